#pragma once
// A host with virtual time: writes are recorded, timers are deadlines that advance() fires in order.
#include "crc16.h"
#include "linecode.h"
#include "linkengine.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mb::test {

class FakeHost : public LinkHost {
public:
    bool write(const std::uint8_t* data, std::size_t size) override {
        if (!portWorks) return false;
        written.insert(written.end(), data, data + size);
        ++writes;
        return true;
    }
    void startTimer(LinkTimer t, unsigned ms) override {
        deadline[idx(t)] = now + ms;
        interval[idx(t)] = ms;
    }
    void stopTimer(LinkTimer t) override { deadline[idx(t)].reset(); }
    void writesDone() override { ++sends; }
    void flashTx() override { ++txFlashes; }
    void flashRx() override { ++rxFlashes; }
    void statusShown(TMBStatus, const std::string& text) override { shownStatus = text; }
    void attemptShown(std::uint8_t n) override { attempt = n; }

    bool running(LinkTimer t) const { return deadline[idx(t)].has_value(); }

    // Moves virtual time forward, firing the single-shot timers that fall due, earliest first.
    void advance(LinkEngine& e, unsigned ms) {
        const std::uint64_t end = now + ms;
        for (;;) {
            int next = -1;
            for (int i = 0; i < 2; ++i)
                if (deadline[i] && *deadline[i] <= end && (next < 0 || *deadline[i] < *deadline[next]))
                    next = i;
            if (next < 0) break;
            now = *deadline[next];
            deadline[next].reset();
            e.timerExpired(static_cast<LinkTimer>(next));
        }
        now = end;
    }

    static int idx(LinkTimer t) { return static_cast<int>(t); }

    std::vector<std::uint8_t> written;
    int writes = 0;
    int sends = 0; // completed sends (writesDone)
    bool portWorks = true;
    std::uint64_t now = 0;
    std::array<std::optional<std::uint64_t>, 3> deadline{};
    std::array<unsigned, 3> interval{};
    int txFlashes = 0;
    int rxFlashes = 0;
    std::string shownStatus;
    int attempt = -1;
};

// A frame with its CRC, as bytes.
inline std::vector<std::uint8_t> frame(std::vector<std::uint8_t> headerAndData) {
    const std::uint16_t crc = crc16(headerAndData.data(), headerAndData.size());
    headerAndData.push_back(static_cast<std::uint8_t>(crc));
    headerAndData.push_back(static_cast<std::uint8_t>(crc >> 8));
    return headerAndData;
}

inline std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& f) {
    std::vector<std::uint8_t> chars(2 * f.size());
    encodeFrame(f.data(), f.size(), chars.data());
    return chars;
}

// Decodes characters written by an engine back into frame bytes (low then high character per byte).
inline std::vector<std::uint8_t> decodeChars(const std::vector<std::uint8_t>& chars) {
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0; k + 1 < chars.size(); k += 2)
        out.push_back(static_cast<std::uint8_t>(((chars[k + 1] & 0x0F) << 4) | (chars[k] & 0x0F)));
    return out;
}

inline void feed(LinkEngine& e, const std::vector<std::uint8_t>& chars) {
    e.bytesReceived(chars.data(), chars.size());
}

} // namespace mb::test
