#pragma once
// A SCPI bench instrument (reference meter or signal source): a byte channel plus a command profile.
// The protocol here does no I/O of its own: it talks through a Transport, which the tests script and
// transport.h backs with a serial line, a USBTMC node or a TCP socket. Every failure (no answer in
// time, an answer that is not one, an entry in the instrument's error queue) ends up as one line in
// error(), naming the instrument, so a run can stop and say which one failed and how.
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vx::station {

// The strings a model understands. Other models need another profile, not other code.
struct ScpiProfile {
    std::string terminator = "\n";
    std::chrono::milliseconds timeout{2000}; // per reply
    std::string identify = "*IDN?";
    std::string errorQuery = "SYST:ERR?";
    std::string measureCurrent = "MEAS:CURR:DC?";
    std::string measureVoltage = "MEAS:VOLT:DC?";
    std::string sourceCurrent = "SOUR:CURR";
    std::string sourceVoltage = "SOUR:VOLT";
    std::string outputOn = "OUTP ON";
    std::string outputOff = "OUTP OFF";
    // Between the meter readings compared for settling. Back to back, a meter that settles slowly (a
    // first-order lag) shows two close readings long before it has settled; about its time constant
    // apart, not.
    std::chrono::milliseconds meterSpacing{0};
};
// "key=value" lines over the defaults (keys as the member names; terminator takes \n and \r escapes,
// timeout and meterSpacing milliseconds). False with *error naming the first bad line.
bool parseProfile(std::string_view text, ScpiProfile* profile, std::string* error);

enum class ReadStatus { Data, TimedOut, Closed };
struct ReadResult {
    ReadStatus status = ReadStatus::TimedOut;
    std::size_t count = 0;
    std::string reason; // for Closed
};

class Transport {
public:
    virtual ~Transport() = default;
    // Sends all bytes (bounded); false with *reason when the channel refuses them.
    virtual bool send(std::string_view bytes, std::string* reason) = 0;
    // Waits at most `wait` for bytes and reads what is there.
    virtual ReadResult receive(char* buffer, std::size_t size, std::chrono::milliseconds wait) = 0;
};

enum class Quantity { Current, Voltage }; // amperes, volts as SCPI has them

class ScpiInstrument {
public:
    // role names the instrument in errors ("meter", "source").
    ScpiInstrument(std::string role, std::unique_ptr<Transport> transport, ScpiProfile profile = {});

    // *IDN?, then the error queue. The identity is kept for the calibration record.
    bool identify();
    const std::string& identity() const { return identity_; }

    // One reading, then the error queue.
    std::optional<double> measure(Quantity quantity);
    // Sets the level and, once the instrument took it without error, switches the output on.
    bool source(Quantity quantity, double value);
    // Switches the output off, then reads the error queue.
    bool off();

    // A command or a query, without the error check (sequences check once at their end).
    bool send(std::string_view command);
    std::optional<std::string> query(std::string_view command);
    // Reads SYST:ERR? until it reports 0; false at the first error, which goes to error().
    bool checkErrors();

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& role() const { return role_; }
    const ScpiProfile& profile() const { return profile_; }

private:
    bool fail(std::string what);

    std::string role_;
    std::unique_ptr<Transport> transport_;
    ScpiProfile profile_;
    std::string identity_;
    std::string pending_; // bytes after the last reply's terminator
    std::string error_;
};

// Longest reply taken; anything longer without a terminator is garbage.
inline constexpr std::size_t kMaxScpiReply = 4096;

// A SCPI number ("+1.234560E-02", "0.5"), whatever the C locale. Nothing for anything else.
std::optional<double> parseScpiNumber(std::string_view text);
// "SOUR:VOLT 0.2": the level with a full stop and enough digits, whatever the C locale.
std::string scpiLevel(std::string_view command, double value);

} // namespace vx::station
