#pragma once
// The SCPI instruments of the simulated bench: a reference meter on the unit's output (it reads the
// true output, to a number of digits and with a little noise) and a signal source on its input. The
// command handling is text only, so tests drive it directly; ScpiPort puts one on a pseudo-terminal
// or a loopback TCP port for the simulator's serving loop.
#include "sim/lab.h"
#include "sim/model.h"
#include "sim/unit.h"

#include <deque>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace vx::sim {

struct MeterOptions {
    int digits = 6;        // significant digits shown
    double noisePpm = 2.0; // standard deviation, parts per million of the reading
    double settleMs = 0.0; // time constant of a first-order lag behind the output's changes; 0: none
    std::uint32_t seed = 1;
};

// The source's own limits: it refuses (error -222) any level beyond them.
inline constexpr double kSourceLimitV = 130.0;
inline constexpr double kSourceLimitA = 0.025;

class ScpiResponder {
public:
    enum class Role { Meter, Source };
    // Meter: output() is what the terminals carry now. Source: apply() switches the unit's input.
    ScpiResponder(Role role, const MeterOptions& meter, std::function<OutputLevel()> output,
                  std::function<void(const Signal&)> apply);

    // One command line without its terminator; the answer line when it is a query.
    std::optional<std::string> handle(std::string_view line);
    // The meter: the output may have changed just now (after each reply), for the lag to start there.
    void follow();
    // Seconds on a monotonic clock; the steady clock unless a test sets its own.
    void setClock(std::function<double()> seconds) { clock_ = std::move(seconds); }

private:
    void error(int code, const char* text);
    std::string reading(double value);
    void advanceLag();
    void applyLevel();

    Role role_;
    MeterOptions meter_;
    std::function<OutputLevel()> output_;
    std::function<void(const Signal&)> apply_;
    std::deque<std::string> errors_;
    std::mt19937 random_;
    std::normal_distribution<double> noise_{0.0, 1.0};
    bool current_ = false; // source mode
    double level_ = 0.0;   // volts or amperes
    bool on_ = false;
    // The lag: what the meter shows of each quantity, what the output is, and when that was looked at.
    std::function<double()> clock_;
    std::optional<OutputLevel> target_;
    double shownMa_ = 0.0, shownV_ = 0.0, at_ = 0.0;
};

// "tcp:PORT" (127.0.0.1) or the path of a symbolic link to a new pseudo-terminal. False with *error
// for anything else.
struct ScpiPlace {
    bool tcp = false;
    std::uint16_t port = 0;
    std::string link;
};
bool parseScpiPlace(std::string_view text, ScpiPlace* out, std::string* error);

// One responder on its line: accepts one TCP client at a time (a new one replaces the old), or
// serves the pseudo-terminal's master.
class ScpiPort {
public:
    ScpiPort(ScpiResponder responder) : responder_(std::move(responder)) {}
    ~ScpiPort();
    ScpiPort(const ScpiPort&) = delete;
    ScpiPort& operator=(const ScpiPort&) = delete;

    bool open(const ScpiPlace& place, std::string* error);
    // Descriptors to wait on for input.
    std::vector<int> fds() const;
    // fd has input (or hung up).
    void readable(int fd);
    // "tcp:127.0.0.1:5025" or the device path.
    const std::string& where() const { return where_; }
    ScpiResponder& responder() { return responder_; }

private:
    void serve(int fd);

    ScpiResponder responder_;
    LineSplitter lines_{1024};
    int listen_ = -1, client_ = -1, master_ = -1, slave_ = -1;
    std::string link_, device_, where_;
};

} // namespace vx::sim
