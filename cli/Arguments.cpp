#include "cli/Arguments.h"

#include "common/pictureformat.h"
#include "link/core/mbtypes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace vx::cli {
namespace {

constexpr std::pair<const char*, Command> kCommands[] = {
    {"ports", Command::Ports},   {"identify", Command::Identify},   {"get", Command::Get},
    {"apply", Command::Apply},   {"watch", Command::Watch},         {"check", Command::Check},
    {"verify", Command::Verify}, {"calibrate", Command::Calibrate}, {"certificate", Command::Certificate}};

bool parseUnsigned(const std::string& t, unsigned long max, unsigned long* out) {
    unsigned long v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc{} || end != t.data() + t.size() || v > max) return false;
    *out = v;
    return true;
}

// Seconds with a full stop (never the locale's comma: scripts are written once for every desktop).
bool parseSeconds(const std::string& t, unsigned* ms) {
    if (t.find(',') != std::string::npos) return false;
    double s = 0;
    if (!parseDecimal(t, &s) || !std::isfinite(s) || s <= 0 || s > 86400.0) return false;
    *ms = static_cast<unsigned>(std::max(1.0, std::round(s * 1000)));
    return true;
}

std::string* textOption(Arguments& a, const std::string& name) {
    const std::pair<const char*, std::string*> options[] = {{"--meter", &a.meter},
                                                            {"--source", &a.source},
                                                            {"--meter-profile", &a.meterProfile},
                                                            {"--source-profile", &a.sourceProfile},
                                                            {"--history", &a.history},
                                                            {"--profile", &a.profile},
                                                            {"--serial", &a.serial},
                                                            {"--engineer", &a.engineer},
                                                            {"--output", &a.outputFolder}};
    for (const auto& [option, field] : options)
        if (name == option) return field;
    return nullptr;
}

bool* flagOption(Arguments& a, const std::string& name) {
    const std::pair<const char*, bool*> flags[] = {{"--json", &a.json},
                                                   {"--force", &a.force},
                                                   {"--no-record", &a.noRecord},
                                                   {"--trial", &a.trial},
                                                   {"--store", &a.store}};
    for (const auto& [option, field] : flags)
        if (name == option) return field;
    return nullptr;
}

// The commands each option serves; one given to another command is a mistake worth saying.
using C = Command;
const std::map<std::string, std::vector<Command>> kBelongs{
    {"--count", {C::Watch}},
    {"--duration", {C::Watch}},
    {"--force", {C::Apply}},
    {"--meter", {C::Check, C::Verify, C::Calibrate}},
    {"--meter-profile", {C::Check, C::Verify, C::Calibrate}},
    {"--source", {C::Verify, C::Calibrate}},
    {"--source-profile", {C::Verify, C::Calibrate}},
    {"--profile", {C::Check, C::Verify, C::Calibrate}},
    {"--history", {C::Verify, C::Calibrate, C::Certificate}},
    {"--serial", {C::Verify, C::Calibrate, C::Certificate}},
    {"--no-record", {C::Verify, C::Calibrate}},
    {"--trial", {C::Verify, C::Calibrate}},
    {"--engineer", {C::Verify, C::Calibrate}},
    {"--reference", {C::Verify, C::Calibrate}},
    {"--phase", {C::Verify}},
    {"--store", {C::Calibrate}},
    {"--language", {C::Certificate}},
    {"--output", {C::Certificate}},
};

} // namespace

std::string commandName(Command c) {
    for (const auto& [name, command] : kCommands)
        if (command == c) return name;
    return {};
}

Parsed parseArguments(const std::vector<std::string>& in) {
    Parsed p;
    Arguments& a = p.args;
    std::vector<std::string> positional, used;
    const auto fail = [&p](std::string why) {
        if (p.error.empty()) p.error = std::move(why);
    };
    for (std::size_t i = 0; i < in.size(); ++i) {
        std::string name = in[i], value;
        bool hasValue = false;
        if (name.rfind("--", 0) == 0) {
            if (const auto eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                hasValue = true;
            }
        } else if (name != "-h") {
            positional.push_back(name);
            continue;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= in.size()) {
                fail(name + " needs a value");
                return false;
            }
            value = in[++i];
            return true;
        };
        unsigned long n = 0;
        if (name == "-h" || name == "--help") {
            a.help = true;
        } else if (name == "--version") {
            a.version = true;
        } else if (name == "--port") {
            if (takeValue() && value.empty()) fail("--port needs a path");
            a.port = value;
        } else if (name == "--baud") {
            if (takeValue() && (!parseUnsigned(value, 4000000, &n) || mb::baudRate(mb::baudFromRate(n)) != n))
                fail("--baud: not a bit rate of the link: " + value);
            a.baud = static_cast<std::uint32_t>(n);
        } else if (name == "--timeout") {
            if (takeValue() && !parseSeconds(value, &a.timeoutMs))
                fail("--timeout: not a number of seconds: " + value);
        } else if (name == "--duration") {
            unsigned ms = 0;
            if (takeValue() && !parseSeconds(value, &ms))
                fail("--duration: not a number of seconds: " + value);
            a.durationMs = ms;
        } else if (name == "--count") {
            if (takeValue() && (!parseUnsigned(value, 1u << 30, &n) || n == 0))
                fail("--count: not a positive whole number: " + value);
            a.count = static_cast<unsigned>(n);
        } else if (std::string* text = textOption(a, name)) {
            if (takeValue() && value.empty()) fail(name + " needs a value");
            *text = value;
        } else if (name == "--reference") {
            if (takeValue() && std::count(value.begin(), value.end(), ',') != 3)
                fail("--reference: not MODEL,SERIAL,CERTIFICATE,DUE-DATE: " + value);
            a.references.push_back(value);
        } else if (name == "--phase") {
            if (takeValue() && value != "as-found" && value != "as-left")
                fail("--phase: as-found or as-left, not " + value);
            a.asLeft = value == "as-left";
        } else if (name == "--language") {
            if (takeValue() && value != "en" && value != "hu") fail("--language: en or hu, not " + value);
            a.hungarian = value == "hu";
        } else if (bool* flag = flagOption(a, name)) {
            *flag = true;
        } else {
            fail("unknown option " + name);
        }
        if (hasValue && (flagOption(a, name) || name == "--help" || name == "--version"))
            fail(name + " takes no value");
        if (const auto owners = kBelongs.find(name); owners != kBelongs.end()) used.push_back(name);
    }
    if (a.help || a.version) return p;
    if (positional.empty()) {
        fail("no command given");
        return p;
    }
    a.commandName = positional.front();
    for (const auto& [word, command] : kCommands)
        if (a.commandName == word) a.command = command;
    if (a.command == Command::None) fail("unknown command " + a.commandName);
    const std::vector<std::string> rest(positional.begin() + 1, positional.end());
    if (a.command == Command::Apply) {
        if (rest.size() != 1)
            fail("apply needs exactly one settings file");
        else
            a.file = rest.front();
    } else if (a.command == Command::Check) {
        for (const std::string& t : rest) {
            unsigned long v = 0;
            if (!parseUnsigned(t, 100, &v) || v % 5 != 0)
                fail("check: not a percentage in steps of 5 (0..100): " + t);
            a.percents.push_back(static_cast<int>(v));
        }
        if (a.percents.empty()) a.percents = {0, 50, 100};
    } else if (a.command == Command::Certificate && rest.size() == 1) {
        unsigned long id = 0;
        if (!parseUnsigned(rest.front(), 1ul << 62, &id) || id == 0)
            fail("certificate: not a record number: " + rest.front());
        a.recordId = static_cast<long long>(id);
    } else if (!rest.empty() && a.command != Command::None) {
        fail(a.commandName + " takes " +
             (a.command == Command::Certificate ? "one record number" : "no arguments") + ": " + rest.back());
    }
    for (const std::string& option : used) {
        const std::vector<Command>& owners = kBelongs.at(option);
        if (a.command != Command::None && std::find(owners.begin(), owners.end(), a.command) == owners.end())
            fail(option + " does not belong to " + a.commandName);
    }
    const bool recording = a.command == Command::Verify || a.command == Command::Calibrate;
    if (recording && (a.meter.empty() || a.source.empty()))
        fail(a.commandName + " needs the reference meter and source: --meter ADDRESS --source ADDRESS");
    if (recording && !a.noRecord && a.serial.empty())
        fail(a.commandName + " writes a record: give the unit's --serial (or --no-record)");
    if (a.command == Command::Certificate && !a.recordId && a.serial.empty())
        fail("certificate needs a record number or --serial (its latest record)");
    if (a.command == Command::Certificate && a.recordId && !a.serial.empty())
        fail("certificate takes a record number or --serial, not both");
    return p;
}

std::string usageText() {
    return R"(Usage: vx2207-cli [OPTIONS] COMMAND [ARGUMENTS]

Configures and checks a VX2207 signal converter over its serial link, without a window.

Commands:
  ports                list the serial ports: adapter, by-id name, whether it can be opened and why not
  identify             variant, firmware (and whether this program supports it), calibration date,
                       working time, temperatures, calibration state of the input and the output
  get                  print the settings as a settings backup file (the format the window saves)
  apply FILE           write the settings of a backup file, confirmed by reading them back; all or
                       nothing. Refused, as in the window: a file for the other variant, a value
                       that is no number or outside its signal type, and a zero span unless --force
  watch                the live values as CSV (with --json: JSON lines) until --count or --duration
                       is reached, or Ctrl-C
  check [PERCENT...]   drive the output to each percentage (steps of 5, default 0 50 100) and report
                       what the instrument reports; with --meter also the meter's reading, the error in
                       % of span and the verdict; the output is released afterwards
  verify               the verification run with the reference meter and source: the output at 0, 25,
                       50, 75 and 100 % of its scale read by the meter, each input range the scale goes
                       through at -100, 0, 50 and 100 % of its reference applied by the source; writes
                       a record to the calibration history
  calibrate            the automatic calibration on the bench: input as found, output and input
                       calibration, store (only with --store), input as left; writes a record
  certificate [ID]     the certificate of a record in the history (record ID, or the latest of
                       --serial) as PDF, JSON and CSV files

Options:
  --port PATH          the instrument's port (default: the only port that can be opened, else the
                       only one on which an instrument answers)
  --baud RATE          bit rate of the link (default 115200)
  --timeout SECONDS    how long to wait for each reply (default 3)
  --json               machine output on stdout: one versioned JSON object per result
  --force              apply: write a setting that cannot work (a zero span) as well; values
                       outside their signal type are never written
  --count N            watch: stop after N replies
  --duration SECONDS   watch: stop after this long
  --meter ADDRESS      the reference meter (check, verify, calibrate) and the source (verify,
  --source ADDRESS     calibrate): tcp:HOST[:PORT], /dev/usbtmcN, serial:PATH[:BAUD[:8N1]] or a device
                       path (9600 8N1)
  --meter-profile FILE, --source-profile FILE
                       the instrument's commands as key=value lines (identify, measureCurrent,
                       sourceVoltage, outputOn, terminator, timeout in ms, ...)
  --profile FILE       tolerances and decision rule (default: the window's product profile)
  --history FILE       the calibration history (default: the window's)
  --serial TEXT        the unit's serial number (verify, calibrate; certificate: its latest record)
  --engineer NAME      who did the work (needed for a record that is not a trial run)
  --reference MODEL,SERIAL,CERTIFICATE,DUE-DATE
                       a reference instrument used (repeatable; default: the history's references
                       that are not overdue); an overdue one is refused, as in the window
  --trial              a trial run: overdue references allowed, never a certificate
  --no-record          verify, calibrate: write no record
  --phase as-found|as-left
                       verify: which check this is (default as-found)
  --store              calibrate: store the constants in the instrument
  --output FOLDER      certificate: where the files go (default: the window's certificates folder)
  --language en|hu     certificate: its language (default en)
  -h, --help           this text
  --version            the program's version

Serial ports are those Qt lists plus the paths in MB_EXTRA_PORTS (colon-separated). Diagnostics go to
standard error. Ctrl-C releases a forced output and closes the port before the program ends.

Exit status:
  0    success
  1    a check or verification failed (also: a calibration that could not reach its target)
  2    usage: bad command line, a settings file that is unreadable or refused (the field is named), a
       record the history would refuse, or one that is not found or cannot stand as a certificate
  3    port not found, busy or not permitted (also: a meter or source that cannot be connected)
  4    no reply or time-out (also: the port was lost, or the meter or source stopped answering or
       reported an error; "failed" in the JSON names which instrument)
  5    firmware or variant refused
  6    write not confirmed (a setting, a calibration store, a record or a certificate file)
  130  interrupted (Ctrl-C or a termination signal)
)";
}

} // namespace vx::cli
