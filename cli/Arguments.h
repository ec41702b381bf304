#pragma once
// The tool's command line: one sub-command, its arguments and the options, in any order. Pure.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vx::cli {

// Exit statuses, documented in --help, the manual page and the README. Scripts rely on them.
enum class Exit : int {
    Ok = 0,
    CheckFailed = 1,     // a check or verification failed
    Usage = 2,           // bad command line or a bad file
    PortUnavailable = 3, // port not found, busy or not permitted
    NoReply = 4,         // no reply, time-out, or the port was lost
    Refused = 5,         // firmware or variant refused
    NotConfirmed = 6,    // a write was not confirmed
    Interrupted = 130    // Ctrl-C or a termination signal
};

enum class Command { None, Ports, Identify, Get, Apply, Watch, Check, Verify, Calibrate, Certificate };

struct Arguments {
    Command command = Command::None;
    std::string commandName;
    std::string port; // empty: the single usable port found
    std::uint32_t baud = 115200;
    unsigned timeoutMs = 3000; // for each reply awaited
    bool json = false;
    bool force = false;
    bool help = false, version = false;
    std::string file;                   // apply
    std::optional<unsigned> count;      // watch: this many replies
    std::optional<unsigned> durationMs; // watch: for this long
    std::vector<int> percents;          // check: 0..100 in steps of 5
    // The bench: where the reference meter and source are (as station's endpoints), their command profiles.
    std::string meter, source, meterProfile, sourceProfile;
    // Records: the history file (empty: the window's), the product profile (empty: the window's).
    std::string history, profile;
    bool noRecord = false, trial = false;
    std::string serial, engineer;
    std::vector<std::string> references; // "MODEL,SERIAL,CERTIFICATE,DUE-DATE"
    bool asLeft = false;                 // verify: the phase
    bool store = false;                  // calibrate: store the constants in the unit
    std::optional<long long> recordId;   // certificate: this record, else the latest of --serial
    std::string outputFolder;            // certificate: where the files go (empty: the window's folder)
    bool hungarian = false;              // certificate: its language
};

struct Parsed {
    Arguments args;
    std::string error; // empty when the command line is usable
};

// args excludes the program name.
Parsed parseArguments(const std::vector<std::string>& args);

std::string usageText();
std::string commandName(Command c);

} // namespace vx::cli
