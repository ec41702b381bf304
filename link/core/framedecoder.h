#pragma once
// Rebuilds frames from the two-characters-per-byte line code. The decoder only assembles and checks; the
// engine decides what a start byte may start and what a reset or an accepted frame means in its mode.
#include "crc16.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace mb {

inline constexpr std::size_t kAccumulatorSize = 2048;

class FrameDecoder {
public:
    enum class Step : std::uint8_t {
        None,  // nothing to act on
        Start, // a start character; startByte() holds its byte, the caller calls start() or reset()
        Reset, // a short or corrupted frame ended; the caller resets
        Accept // a frame with a good CRC ended; frame()/count() hold it
    };

    // Takes one character. A start character that is also an end character is reported as Start; the
    // caller then calls endAfterStart() once it has applied its start rule.
    Step feed(std::uint8_t c) {
        lastChar_ = c;
        if (!(c & 0x40)) {
            pendingLow_ = c & 0x0F;
            return Step::None;
        }
        // The pending nibble stays: a high character after another high character reuses it.
        const auto b = static_cast<std::uint8_t>(((c & 0x0F) << 4) | pendingLow_);
        if (c & 0x80) {
            startByte_ = b;
            return Step::Start;
        }
        if (count_ != 0) append(b);
        return (c & 0x20) ? endCheck() : Step::None;
    }

    void start(std::uint8_t b) {
        acc_[0] = b;
        count_ = 1;
        full_ = false;
    }
    // The end check for a start character that carries the end flag as well.
    Step endAfterStart() const { return (lastChar_ & 0x20) ? endCheck() : Step::None; }

    void reset() {
        count_ = 0;
        full_ = false;
    }

    // Raw modes: appends a byte (dropped once the accumulator is full).
    void append(std::uint8_t b) {
        if (count_ < kAccumulatorSize) acc_[count_++] = b;
        full_ = count_ == kAccumulatorSize;
    }

    std::uint8_t startByte() const { return startByte_; }
    std::uint16_t count() const { return count_; }
    bool full() const { return full_; }
    std::uint8_t lastChar() const { return lastChar_; }
    std::uint8_t pendingLow() const { return pendingLow_; }
    const std::uint8_t* frame() const { return acc_.data(); }

private:
    Step endCheck() const {
        if (count_ < 5) return Step::Reset;
        const std::uint16_t crc = crc16(acc_.data(), count_ - 2u);
        const bool ok = acc_[count_ - 2] == static_cast<std::uint8_t>(crc) &&
                        acc_[count_ - 1] == static_cast<std::uint8_t>(crc >> 8);
        return ok ? Step::Accept : Step::Reset;
    }

    std::array<std::uint8_t, kAccumulatorSize> acc_{};
    std::uint16_t count_ = 0;
    bool full_ = false;
    std::uint8_t pendingLow_ = 0;
    std::uint8_t lastChar_ = 0;
    std::uint8_t startByte_ = 0;
};

} // namespace mb
