#include "mbtypes.h"

#include <array>

namespace mb {

namespace {
constexpr std::array<std::uint32_t, kBaudCount> kRates = {
    75,   110,   134,   150,   300,   600,    1200,   1800,   2400,   4800,  7200,
    9600, 14400, 19200, 38400, 57600, 115200, 128000, 230400, 460800, 921600};
} // namespace

std::uint32_t baudRate(TMBBaud b) {
    const auto i = static_cast<unsigned>(b);
    return i < kRates.size() ? kRates[i] : 9600;
}

TMBBaud baudFromRate(std::uint32_t rate) {
    for (unsigned i = 0; i < kRates.size(); ++i)
        if (kRates[i] == rate) return static_cast<TMBBaud>(i);
    return baud009600;
}

std::string baudText(TMBBaud b) {
    return std::to_string(baudRate(b)) + " baud";
}

const char* statusNowText(TMBStatusNow s) {
    switch (s) {
    case stnReady:
        return "Ready";
    case stnSending:
        return "Sending";
    case stnWaitingForAnswer:
        return "Waiting For Answer";
    case stnReceiving:
        return "Receiving";
    case stnPortError:
        return "Port Error";
    case stnTimeOut:
        return "Time Out";
    case stnWaitingForCommand:
        return "Waiting For Command";
    case stnReceivedCommand:
        return "Received Command";
    }
    return "";
}

std::string statusText(TMBStatus s, std::uint8_t slaveError) {
    switch (s) {
    case stOK:
        return "OK";
    case stSlaveError:
        return "Slave Error: #" + std::to_string(slaveError);
    case stTimeOut:
        return "Time Out";
    case stClosedPort:
        return "Closed Port";
    }
    return "";
}

LampColour statusLampColour(TMBStatus s) {
    switch (s) {
    case stOK:
        return LampColour::Green;
    case stSlaveError:
        return LampColour::Orange;
    case stTimeOut:
    case stClosedPort:
        return LampColour::Red;
    }
    return LampColour::Neutral;
}

const char* modeCaptionPrefix(TMBMode m) {
    switch (m) {
    case modeMaster:
        return "MB Master v";
    case modeSlave:
        return "MB Slave v";
    case modeASCIIMaster:
        return "MB ASCII Master v";
    case modeASCIISlave:
        return "MB ASCII Slave v";
    case modeDiagnostic:
        return "MB Diagnostic v";
    case modeByte:
        return "MB Byte Mode v";
    case modeString:
        return "MB String Mode v";
    }
    return "";
}

const char* modeUnitWord(TMBMode m) {
    switch (m) {
    case modeByte:
        return "bytes";
    case modeString:
        return "strings";
    default:
        return "frames";
    }
}

bool modeShowsAttempt(TMBMode m) {
    return m == modeMaster || m == modeASCIIMaster;
}

} // namespace mb
