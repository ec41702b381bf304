#pragma once
// Where a bench instrument is connected: a serial line (line settings and terminator in the profile),
// a USBTMC device node (/dev/usbtmc*) or a raw TCP socket (port 5025 as a rule).
#include "station/scpi.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vx::station {

struct Endpoint {
    enum class Kind { Serial, Usbtmc, Tcp };
    Kind kind = Kind::Serial;
    std::string path; // device, or host for TCP
    std::uint16_t port = 5025;
    // Serial line: rate, data bits, parity (N, E, O), stop bits.
    std::uint32_t baud = 9600;
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
};
// "tcp:HOST[:PORT]", "/dev/usbtmcN" (or "usbtmc:PATH"), "serial:PATH[:BAUD[:8N1]]" or a plain device path
// (serial, 9600 8N1). False with *error for anything else.
bool parseEndpoint(std::string_view text, Endpoint* out, std::string* error);
std::string describe(const Endpoint& endpoint);

// Opens the connection; nullptr with *error set when it cannot be made (within the profile's time-out
// for TCP).
std::unique_ptr<Transport> openTransport(const Endpoint& endpoint, std::chrono::milliseconds timeout,
                                         std::string* error);

// A transport over a non-blocking descriptor it owns (the serial line and TCP); exposed for pseudo-
// terminals and socket pairs.
std::unique_ptr<Transport> fdTransport(int fd);

// The profile in `file` over the defaults; an empty name keeps the defaults. False with *error naming the
// file and why it was not taken (unreadable, not a regular file, too large, or a line that is no setting).
bool loadProfile(const std::string& file, ScpiProfile* profile, std::string* error);

// An instrument at `address` with the profile in `profileFile`, connected but not identified yet. On a
// failure, which step failed: the error names the file for a profile, and is the bare reason otherwise.
struct OpenedInstrument {
    enum class Failure { None, Profile, Address, Unavailable };
    std::unique_ptr<ScpiInstrument> instrument;
    Failure failure = Failure::None;
    std::string error;
};
OpenedInstrument openInstrument(const std::string& role, std::string_view address,
                                const std::string& profileFile);

} // namespace vx::station
