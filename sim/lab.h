#pragma once
// The instruments on the bench around the simulated unit: the meter on its output (--meter writes
// its reading to a file) and the calibrator on its input (--control takes its settings as lines).
// Text handling only, so tests check it directly.
#include "sim/model.h"
#include "sim/unit.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vx::sim {

// "current_mA=12.345678\nvoltage_V=6.172839\npwm=32768\n": full stop, six decimals, whatever the
// locale.
std::string meterText(const OutputLevel& level);
// Reads meterText's format back. False, leaving *out alone, for anything else.
bool parseMeterText(std::string_view text, OutputLevel* out);

// One line of the control channel: "signal VALUE" (a number or a waveform as --signal takes it),
// "short" (inputs shorted) or "open" (inputs open). Both of the last apply signal 0.
struct ControlCommand {
    enum class Kind { Blank, Signal, Short, Open };
    Kind kind = Kind::Blank;
    Signal signal;
};
// Blank lines give Kind::Blank. False with *error set for an unknown or malformed line.
bool parseControlLine(std::string_view line, ControlCommand* out, std::string* error);

// Cuts a byte stream into lines. A line longer than maxLength is dropped whole (up to its end) and
// reported once, so no writer can make the buffer grow without bound.
class LineSplitter {
public:
    struct Line {
        std::string text;
        bool tooLong = false; // text is empty then
    };
    explicit LineSplitter(std::size_t maxLength) : max_(maxLength) {}
    std::vector<Line> feed(std::string_view bytes);

private:
    std::size_t max_;
    std::string partial_;
    bool discarding_ = false;
};

} // namespace vx::sim
