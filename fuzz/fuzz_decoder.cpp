// Drives the link engine's receive path with arbitrary characters in the framed and raw modes, mixed
// with sends and timer expiries, and checks that the accumulator and the receive buffer stay within
// their bounds and that a good frame is still accepted afterwards.
#include "crc16.h"
#include "linecode.h"
#include "linkengine.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

class NullHost : public mb::LinkHost {
public:
    bool write(const std::uint8_t*, std::size_t size) override {
        written += size;
        return true;
    }
    void startTimer(mb::LinkTimer, unsigned) override {}
    void stopTimer(mb::LinkTimer) override {}
    std::size_t written = 0;
};

void check(bool ok) {
    if (!ok) std::abort();
}

void checkBounds(const mb::LinkEngine& e) {
    check(e.MBNumberOfReceivedBytes() <= 2048);
    check(e.MBRxBufferFull() == (e.MBNumberOfReceivedBytes() == 2048));
    check(e.MBReceivedDataNumber() <= 2048);
    check(e.MBMBRXDataBufferIndex() >= 1 && e.MBMBRXDataBufferIndex() <= 2043);
    check(e.MBMBTXDataBufferIndex() >= 1 && e.MBMBTXDataBufferIndex() <= 2043);
    check(e.MBDataNumberToSend() <= 2043);
}

std::vector<std::uint8_t> encoded(std::vector<std::uint8_t> f) {
    const std::uint16_t crc = mb::crc16(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    std::vector<std::uint8_t> chars(2 * f.size());
    mb::encodeFrame(f.data(), f.size(), chars.data());
    return chars;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const mb::TMBMode modes[] = {mb::modeMaster, mb::modeSlave, mb::modeDiagnostic, mb::modeByte,
                                        mb::modeString};
    const mb::TMBMode mode = modes[data[0] % 5];
    NullHost host;
    mb::LinkEngine e(host);
    e.setMBMode(mode);
    e.setMBMasterAddressToSlave(data[1] & 0x0F);
    e.setMBSlaveOwnAddress(data[1] >> 4);
    e.setMBSlaveID(data[1] & 0x03);
    e.setMBStopByteInStringMode(data[1]);
    // Replies to commands 1..127 carry data that the handler writes, like an application's would.
    e.OnMBSlaveReceivedCommand = [&e](std::uint8_t c, bool, std::uint16_t n) {
        e.MBTXPutString(std::string(c % 8, 'x'));
        e.MBTXPutDWord(e.MBRXGetDWord() + n);
    };
    e.portOpening();
    e.portOpened();

    // Control byte, then up to 63 characters in one hand-over.
    std::size_t k = 2;
    while (k < size) {
        const std::uint8_t control = data[k++];
        if (control & 0x40) e.timerExpired(mb::LinkTimer::TimeOut);
        if ((control & 0xC0) == 0xC0) e.timerExpired(mb::LinkTimer::DelayedSend);
        if (control & 0x80) e.MBMasterSend(0);
        const std::size_t n = std::min<std::size_t>(control & 0x3F, size - k);
        e.bytesReceived(data + k, n);
        k += n;
        checkBounds(e);
        (void)e.MBRXGetSingle();
        (void)e.MBRXGetDWord();
    }

    // Whatever came before, the next good frame is accepted.
    const std::uint32_t before = e.MBNumberOfRxFrames();
    if (mode == mb::modeMaster) {
        e.MBMasterSend(0);
        const auto reply =
            encoded({static_cast<std::uint8_t>(0x80 | e.MBMasterAddressToSlave()), 0, 0, 1, 2});
        e.bytesReceived(reply.data(), reply.size());
        check(e.MBNumberOfRxFrames() == before + 1 && e.MBStatus() == mb::stOK);
        check(e.MBReceivedDataNumber() == 2);
    } else if (mode == mb::modeSlave) {
        const auto request = encoded({e.MBSlaveOwnAddress(), 0, 0});
        const std::size_t sent = host.written;
        e.bytesReceived(request.data(), request.size());
        check(e.MBNumberOfRxFrames() == before + 1 && host.written == sent + 10);
        check(e.MBStatusNow() == mb::stnWaitingForCommand);
    } else if (mode == mb::modeDiagnostic) {
        const auto any = encoded({0x85, 1, 2, 3});
        e.bytesReceived(any.data(), any.size());
        check(e.MBNumberOfRxFrames() == before + 1 && e.MBReceivedDataNumber() == 1);
    }
    checkBounds(e);
    return 0;
}
