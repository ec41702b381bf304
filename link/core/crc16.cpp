#include "crc16.h"

#include <array>

namespace mb {

namespace {

// Four tables so the loop takes four bytes per step (slicing-by-4): the decoder checks every frame.
constexpr std::array<std::array<std::uint16_t, 256>, 4> makeTables() {
    std::array<std::array<std::uint16_t, 256>, 4> t{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t r = static_cast<std::uint16_t>(i);
        for (int k = 0; k < 8; ++k)
            r = (r & 1) ? static_cast<std::uint16_t>((r >> 1) ^ 0xA001) : (r >> 1);
        t[0][i] = r;
    }
    for (unsigned i = 0; i < 256; ++i)
        for (unsigned k = 1; k < 4; ++k)
            t[k][i] = static_cast<std::uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
    return t;
}

constexpr auto kTables = makeTables();

} // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        const std::uint32_t x = (crc ^ (data[i] | (data[i + 1] << 8))) | (data[i + 2] << 16) |
                                (static_cast<std::uint32_t>(data[i + 3]) << 24);
        crc = kTables[3][x & 0xFF] ^ kTables[2][(x >> 8) & 0xFF] ^ kTables[1][(x >> 16) & 0xFF] ^
              kTables[0][x >> 24];
    }
    for (; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTables[0][(crc ^ data[i]) & 0xFF]);
    return crc;
}

} // namespace mb
