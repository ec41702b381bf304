#pragma once
// The transmit and receive frame buffers with the typed puts and gets the application fills a request
// and reads a reply with. Data index k (1-based) is frame byte k + 2, after the three header bytes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mb {

inline constexpr std::size_t kFrameSize = 2048;      // header + data + CRC
inline constexpr std::uint16_t kMaxDataIndex = 2043; // data bytes of one frame
inline constexpr std::size_t kRxSize = 2051;         // raw modes store up to 2048 bytes from data index 1

class TxFrameBuffer {
public:
    void clear();
    void putByte(std::uint8_t v);
    void putWord(std::uint16_t v);
    void putDWord(std::uint32_t v);
    void putSingle(float v);
    // The characters, then a 0 byte.
    void putString(std::string_view s);

    std::uint16_t index() const { return index_; }
    void setIndex(unsigned i); // clamps to 1..2043
    std::uint16_t dataNumber() const { return dataNumber_; }
    void setDataNumber(unsigned n); // clamps to at most 2043

    // Fills the header and the CRC around the data bytes; returns the frame length (data + 5).
    std::size_t buildFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2);
    const std::uint8_t* frame() const { return bytes_.data(); }
    std::uint8_t data(unsigned k) const { return k >= 1 && k <= kMaxDataIndex ? bytes_[k + 2] : 0; }

private:
    void put(const std::uint8_t* p, std::size_t n);

    std::array<std::uint8_t, kFrameSize> bytes_{};
    std::uint16_t index_ = 1;
    std::uint16_t dataNumber_ = 0;
};

class RxFrameBuffer {
public:
    // A checked frame of n bytes (5..2048): data number n - 5, index back to 1.
    void acceptFrame(const std::uint8_t* frame, std::size_t n);
    // Raw bytes of the byte and string modes, stored from data index 1 on (at most 2048).
    void storeRaw(const std::uint8_t* data, std::size_t n);
    // Appends one raw byte at data index count + 1 (byte mode keeps adding to what it holds).
    void storeRawAt(std::size_t k, std::uint8_t v) {
        if (k >= 1 && k + 2 < kRxSize) bytes_[k + 2] = v;
    }
    void setReceivedNumber(std::uint16_t n) { received_ = n; }

    std::uint8_t getByte();
    std::uint16_t getWord();
    std::uint32_t getDWord();
    std::int32_t getLongInt();
    float getSingle();

    std::uint16_t index() const { return index_; }
    void setIndex(unsigned i); // clamps to 1..2043
    std::uint16_t receivedNumber() const { return received_; }
    const std::uint8_t* frame() const { return bytes_.data(); }
    std::uint8_t data(unsigned k) const { return k >= 1 && k + 2 < kRxSize ? bytes_[k + 2] : 0; }

private:
    // Reads n little-endian bytes at the index; false (index unchanged) past the received data.
    bool get(std::size_t n, std::uint32_t* v);

    std::array<std::uint8_t, kRxSize> bytes_{};
    std::uint16_t index_ = 1;
    std::uint16_t received_ = 0;
};

} // namespace mb
