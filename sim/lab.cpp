#include "sim/lab.h"

#include "common/pictureformat.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace vx::sim {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trimmed(std::string_view t) {
    const auto first = t.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return t.substr(first, t.find_last_not_of(kBlanks) - first + 1);
}

std::string fixed6(double v) {
    char buf[64];
    // to_chars ignores the locale, so the full stop holds on a Hungarian desktop too.
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, std::isfinite(v) ? v + 0.0 : 0.0, std::chars_format::fixed, 6);
    return ec == std::errc{} ? std::string(buf, end) : std::string("0.000000");
}

// A printable excerpt of what the operator sent, for the error message.
std::string quoted(std::string_view t) {
    std::string q = "'";
    for (char c : t.substr(0, 60))
        q += (c >= 0x20 && c < 0x7F) ? c : '?';
    return q + (t.size() > 60 ? "...'" : "'");
}

} // namespace

std::string meterText(const OutputLevel& level) {
    return "current_mA=" + fixed6(level.currentMa) + "\nvoltage_V=" + fixed6(level.voltageV) +
           "\npwm=" + std::to_string(level.pwm) + "\n";
}

bool parseMeterText(std::string_view text, OutputLevel* out) {
    const std::string_view keys[] = {"current_mA=", "voltage_V=", "pwm="};
    std::string_view values[3];
    for (int i = 0; i < 3; ++i) {
        const auto nl = text.find('\n');
        if (nl == std::string_view::npos || text.substr(0, keys[i].size()) != keys[i]) return false;
        values[i] = text.substr(keys[i].size(), nl - keys[i].size());
        text.remove_prefix(nl + 1);
    }
    OutputLevel l;
    auto real = [](std::string_view t, double* v) { return vx::parseDecimal(t, v) && std::isfinite(*v); };
    unsigned pwm = 0;
    const char* end = values[2].data() + values[2].size();
    const auto [ptr, ec] = std::from_chars(values[2].data(), end, pwm);
    if (!text.empty() || !real(values[0], &l.currentMa) || !real(values[1], &l.voltageV) ||
        ec != std::errc{} || ptr != end || pwm > 65535)
        return false;
    l.pwm = static_cast<std::uint16_t>(pwm);
    *out = l;
    return true;
}

bool parseControlLine(std::string_view line, ControlCommand* out, std::string* error) {
    line = trimmed(line);
    ControlCommand c;
    if (line.empty()) {
        *out = c;
        return true;
    }
    const auto gap = line.find_first_of(kBlanks);
    const std::string_view word = line.substr(0, gap);
    const std::string_view rest =
        gap == std::string_view::npos ? std::string_view{} : trimmed(line.substr(gap));
    if (word == "signal") {
        if (rest.empty() || rest.find_first_of(kBlanks) != std::string_view::npos ||
            !parseSignal(rest, &c.signal)) {
            *error = "bad signal " + quoted(rest) +
                     " (a number, sine:LOW:HIGH:PERIOD or triangle:LOW:HIGH:PERIOD)";
            return false;
        }
        c.kind = ControlCommand::Kind::Signal;
    } else if (word == "short" || word == "open") {
        if (!rest.empty()) {
            *error = std::string(word) + " takes no value";
            return false;
        }
        c.kind = word == "short" ? ControlCommand::Kind::Short : ControlCommand::Kind::Open;
        c.signal = Signal{Signal::Shape::Constant, 0.0, 0.0, 1.0};
    } else {
        *error = "unknown command " + quoted(word) + " (signal VALUE, short, open)";
        return false;
    }
    *out = c;
    return true;
}

std::vector<LineSplitter::Line> LineSplitter::feed(std::string_view bytes) {
    std::vector<Line> lines;
    while (!bytes.empty()) {
        const auto nl = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, nl);
        bytes = nl == std::string_view::npos ? std::string_view{} : bytes.substr(nl + 1);
        if (!discarding_) {
            if (partial_.size() + piece.size() > max_) {
                discarding_ = true;
                partial_.clear();
                lines.push_back({{}, true});
            } else {
                partial_.append(piece);
            }
        }
        if (nl == std::string_view::npos) break;
        if (!discarding_) lines.push_back({std::exchange(partial_, {}), false});
        discarding_ = false;
    }
    return lines;
}

} // namespace vx::sim
