#include "framebuffers.h"

#include "crc16.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace mb {

namespace {
std::uint16_t clampIndex(unsigned i) {
    return static_cast<std::uint16_t>(std::clamp<unsigned>(i, 1, kMaxDataIndex));
}
} // namespace

void TxFrameBuffer::clear() {
    std::fill(bytes_.begin() + 3, bytes_.begin() + 3 + kMaxDataIndex, 0);
    index_ = 1;
    dataNumber_ = 0;
}

// A put that ends exactly at the buffer's end (new index 2044) still stores its bytes but moves neither
// the index nor the data number; one that does not fit stores nothing.
void TxFrameBuffer::put(const std::uint8_t* p, std::size_t n) {
    const std::size_t i = index_;
    if (i + n > kMaxDataIndex + 1u) return;
    std::memcpy(&bytes_[i + 2], p, n);
    if (i + n <= kMaxDataIndex) {
        index_ = static_cast<std::uint16_t>(i + n);
        dataNumber_ = std::max(dataNumber_, static_cast<std::uint16_t>(i + n - 1));
    }
}

void TxFrameBuffer::putByte(std::uint8_t v) {
    put(&v, 1);
}

void TxFrameBuffer::putWord(std::uint16_t v) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
    put(b, 2);
}

void TxFrameBuffer::putDWord(std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    put(b, 4);
}

void TxFrameBuffer::putSingle(float v) {
    putDWord(std::bit_cast<std::uint32_t>(v));
}

void TxFrameBuffer::putString(std::string_view s) {
    // Checked as a whole first, so a string that does not fit leaves no partial copy behind.
    const std::size_t i = index_;
    if (i + s.size() + 1 > kMaxDataIndex + 1u) return;
    std::memcpy(&bytes_[i + 2], s.data(), s.size());
    bytes_[i + 2 + s.size()] = 0;
    if (i + s.size() + 1 <= kMaxDataIndex) {
        index_ = static_cast<std::uint16_t>(i + s.size() + 1);
        dataNumber_ = std::max(dataNumber_, static_cast<std::uint16_t>(i + s.size()));
    }
}

void TxFrameBuffer::setIndex(unsigned i) {
    index_ = clampIndex(i);
}

void TxFrameBuffer::setDataNumber(unsigned n) {
    dataNumber_ = static_cast<std::uint16_t>(std::min<unsigned>(n, kMaxDataIndex));
}

std::size_t TxFrameBuffer::buildFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    bytes_[0] = b0;
    bytes_[1] = b1;
    bytes_[2] = b2;
    const std::size_t n = dataNumber_ + 3u;
    const std::uint16_t crc = crc16(bytes_.data(), n);
    bytes_[n] = static_cast<std::uint8_t>(crc);
    bytes_[n + 1] = static_cast<std::uint8_t>(crc >> 8);
    return n + 2;
}

void RxFrameBuffer::acceptFrame(const std::uint8_t* frame, std::size_t n) {
    n = std::min(n, kFrameSize);
    std::memcpy(bytes_.data(), frame, n);
    received_ = static_cast<std::uint16_t>(n >= 6 ? n - 5 : 0);
    index_ = 1;
}

void RxFrameBuffer::storeRaw(const std::uint8_t* data, std::size_t n) {
    n = std::min(n, kRxSize - 3);
    std::memcpy(bytes_.data() + 3, data, n);
    received_ = static_cast<std::uint16_t>(n);
}

bool RxFrameBuffer::get(std::size_t n, std::uint32_t* v) {
    const std::size_t i = index_;
    if (i + n - 1 > received_) return false;
    std::uint32_t r = 0;
    for (std::size_t k = 0; k < n; ++k)
        r |= static_cast<std::uint32_t>(bytes_[i + 2 + k]) << (8 * k);
    *v = r;
    if (i + n <= kMaxDataIndex) index_ = static_cast<std::uint16_t>(i + n);
    return true;
}

std::uint8_t RxFrameBuffer::getByte() {
    std::uint32_t v = 0;
    return get(1, &v) ? static_cast<std::uint8_t>(v) : 0;
}

std::uint16_t RxFrameBuffer::getWord() {
    std::uint32_t v = 0;
    return get(2, &v) ? static_cast<std::uint16_t>(v) : 0;
}

std::uint32_t RxFrameBuffer::getDWord() {
    std::uint32_t v = 0;
    return get(4, &v) ? v : 0;
}

std::int32_t RxFrameBuffer::getLongInt() {
    return static_cast<std::int32_t>(getDWord());
}

float RxFrameBuffer::getSingle() {
    std::uint32_t v = 0;
    return get(4, &v) ? std::bit_cast<float>(v) : 0.0f;
}

void RxFrameBuffer::setIndex(unsigned i) {
    index_ = clampIndex(i);
}

} // namespace mb
