#include "cli/Arguments.h"

#include "common/pictureformat.h"
#include "link/core/mbtypes.h"

#include <charconv>
#include <cmath>

namespace vx::cli {
namespace {

constexpr std::pair<const char*, Command> kCommands[] = {
    {"ports", Command::Ports}, {"identify", Command::Identify}, {"get", Command::Get},
    {"apply", Command::Apply}, {"watch", Command::Watch},       {"check", Command::Check}};

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

} // namespace

std::string commandName(Command c) {
    for (const auto& [name, command] : kCommands)
        if (command == c) return name;
    return {};
}

Parsed parseArguments(const std::vector<std::string>& in) {
    Parsed p;
    Arguments& a = p.args;
    std::vector<std::string> positional;
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
        } else if (name == "--json") {
            a.json = true;
        } else if (name == "--force") {
            a.force = true;
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
        } else {
            fail("unknown option " + name);
        }
        if (hasValue && (name == "--json" || name == "--force" || name == "--help" || name == "--version"))
            fail(name + " takes no value");
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
    } else if (!rest.empty() && a.command != Command::None) {
        fail(a.commandName + " takes no arguments: " + rest.front());
    }
    if ((a.count || a.durationMs) && a.command != Command::Watch)
        fail("--count and --duration belong to watch");
    if (a.force && a.command != Command::Apply) fail("--force belongs to apply");
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
                       what the instrument reports; the output is released afterwards

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
  -h, --help           this text
  --version            the program's version

Serial ports are those Qt lists plus the paths in MB_EXTRA_PORTS (colon-separated). Diagnostics go to
standard error. Ctrl-C releases a forced output and closes the port before the program ends.

Exit status:
  0    success
  1    a check or verification failed
  2    usage: bad command line, or a settings file that is unreadable or refused (the field is named)
  3    port not found, busy or not permitted
  4    no reply or time-out (also: the port was lost)
  5    firmware or variant refused
  6    write not confirmed
  130  interrupted (Ctrl-C or a termination signal)
)";
}

} // namespace vx::cli
