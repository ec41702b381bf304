#pragma once
// The line code: every frame byte travels as two characters, the low nibble first (bit 6 clear), then
// 0x40 + the high nibble, flagged 0x80 on the frame's first byte and 0x20 on its last.
#include <array>
#include <cstddef>
#include <cstdint>

namespace mb {

enum class BytePosition : std::uint8_t { Middle, First, Last };

inline std::array<std::uint8_t, 2> encodeByte(std::uint8_t b, BytePosition pos) {
    std::uint8_t high = static_cast<std::uint8_t>(0x40 | (b >> 4));
    if (pos == BytePosition::First) high |= 0x80;
    if (pos == BytePosition::Last) high |= 0x20;
    return {static_cast<std::uint8_t>(b & 0x0F), high};
}

inline BytePosition positionInFrame(std::size_t k, std::size_t length) {
    if (k == 0) return BytePosition::First;
    if (k + 1 == length) return BytePosition::Last;
    return BytePosition::Middle;
}

// Encodes a whole frame into out (2 * size characters); returns the number of characters written.
inline std::size_t encodeFrame(const std::uint8_t* frame, std::size_t size, std::uint8_t* out) {
    for (std::size_t k = 0; k < size; ++k) {
        const auto c = encodeByte(frame[k], positionInFrame(k, size));
        out[2 * k] = c[0];
        out[2 * k + 1] = c[1];
    }
    return 2 * size;
}

} // namespace mb
