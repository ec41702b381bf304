#pragma once
// Value types shared by the link core and the components built on it.
#include <cstdint>
#include <string>

namespace mb {

// Outcome of a master transaction.
enum class TMBStatus : std::uint8_t { stOK, stSlaveError, stTimeOut, stClosedPort };
using enum TMBStatus;

// Live state of the link.
enum class TMBStatusNow : std::uint8_t {
    stnReady,
    stnSending,
    stnWaitingForAnswer,
    stnReceiving,
    stnPortError,
    stnTimeOut,
    stnWaitingForCommand,
    stnReceivedCommand
};
using enum TMBStatusNow;

enum class TMBMode : std::uint8_t {
    modeMaster,
    modeSlave,
    modeASCIIMaster,
    modeASCIISlave,
    modeDiagnostic,
    modeByte,
    modeString
};
using enum TMBMode;

// Bit rates; the position is also the index of the rate in the panel's baud box.
enum class TMBBaud : std::uint8_t {
    baud000075,
    baud000110,
    baud000134,
    baud000150,
    baud000300,
    baud000600,
    baud001200,
    baud001800,
    baud002400,
    baud004800,
    baud007200,
    baud009600,
    baud014400,
    baud019200,
    baud038400,
    baud057600,
    baud115200,
    baud128000,
    baud230400,
    baud460800,
    baud921600
};
using enum TMBBaud;

inline constexpr int kBaudCount = 21;

// Bit rate of a TMBBaud value; values outside the enum give 9600.
std::uint32_t baudRate(TMBBaud b);
// The TMBBaud of a rate; a rate not in the table reads as baud009600.
TMBBaud baudFromRate(std::uint32_t rate);
// "75 baud" .. "921600 baud", the baud box entries.
std::string baudText(TMBBaud b);

const char* statusNowText(TMBStatusNow s);
// "Slave Error: #" + number for stSlaveError, the fixed texts otherwise.
std::string statusText(TMBStatus s, std::uint8_t slaveError = 0);

// Panel colour that an outcome gives the status lamp.
enum class LampColour : std::uint8_t { Neutral, Green, Orange, Red };
LampColour statusLampColour(TMBStatus s);

// Group box caption prefix ("MB Master v") and unit word of the counters ("frames") of a mode.
const char* modeCaptionPrefix(TMBMode m);
const char* modeUnitWord(TMBMode m);
// Whether the panel shows the attempt indicator in this mode.
bool modeShowsAttempt(TMBMode m);

} // namespace mb
