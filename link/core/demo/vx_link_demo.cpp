// Runs one master transaction against an in-memory responder and prints what travels on the line.
#include "linkengine.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A host whose writes land in a buffer; no timers run here because the responder answers at once.
class MemoryHost : public mb::LinkHost {
public:
    bool write(const std::uint8_t* data, std::size_t size) override {
        line.insert(line.end(), data, data + size);
        return true;
    }
    void startTimer(mb::LinkTimer, unsigned) override {}
    void stopTimer(mb::LinkTimer) override {}
    std::vector<std::uint8_t> line;
};

void printLine(const char* who, const std::vector<std::uint8_t>& chars) {
    std::printf("%s (%zu characters):", who, chars.size());
    for (std::size_t k = 0; k < chars.size(); ++k)
        std::printf("%s%02X", k % 24 == 0 ? "\n  " : " ", chars[k]);
    std::printf("\n");
}

} // namespace

int main() {
    MemoryHost masterHost;
    MemoryHost slaveHost;
    mb::LinkEngine master(masterHost);
    mb::LinkEngine slave(slaveHost);

    slave.setMBMode(mb::modeSlave);
    slave.setMBSlaveOwnAddress(2);
    slave.OnMBSlaveReceivedCommand = [&](std::uint8_t command, bool, std::uint16_t n) {
        std::printf("responder: command %u with %u data bytes, first %u\n", command, n, slave.MBRXGetByte());
        slave.MBTXPutWord(0x1234);
        slave.MBTXPutSingle(3.25f);
    };
    slave.portOpening();

    master.setMBMasterAddressToSlave(2);
    master.setMBMasterCommandToSlave(1);
    master.OnMBStatusNowChanged = [](mb::TMBStatusNow, const std::string& s) {
        std::printf("master: %s\n", s.c_str());
    };
    master.OnMBMasterEndOfEvent = [&](mb::TMBStatus, const std::string& s) {
        std::printf("master: end of transaction, %s, %u data bytes\n", s.c_str(),
                    master.MBReceivedDataNumber());
        if (master.MBStatus() == mb::stOK) {
            const unsigned word = master.MBRXGetWord();
            const float single = master.MBRXGetSingle();
            std::printf("master: reply word 0x%04X, single %g\n", word, static_cast<double>(single));
        }
    };
    master.portOpening();

    master.MBClearTXDataBuffer();
    master.MBTXPutByte(7);
    master.MBTXPutString("hello");
    std::printf("master: time-out interval %u ms at %s\n",
                mb::LinkEngine::lineTimeMs(master.MBDataNumberToSend(), master.baudRateValue()) +
                    master.MBMasterTimeOut(),
                master.bitsPerSecondText().c_str());
    master.MBMasterSend(0);
    printLine("request", masterHost.line);
    slave.bytesReceived(masterHost.line.data(), masterHost.line.size());
    printLine("reply", slaveHost.line);
    master.bytesReceived(slaveHost.line.data(), slaveHost.line.size());
    std::printf("counters: Tx %s, Rx %s\n", master.txCounterText().c_str(), master.rxCounterText().c_str());
    return master.MBStatus() == mb::stOK ? 0 : 1;
}
