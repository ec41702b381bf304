#pragma once
// CRC-16 with polynomial 0xA001 (reflected), initial value 0xFFFF and no final XOR; the low byte goes
// first on the line.
#include <cstddef>
#include <cstdint>

namespace mb {

std::uint16_t crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0xFFFF);

} // namespace mb
