#include "station/scpi.h"

#include <array>
#include <charconv>
#include <cmath>
#include <utility>

namespace vx::station {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == 'r')) {
            out += s[++i] == 'n' ? '\n' : '\r';
        } else {
            out += s[i];
        }
    }
    return out;
}

// Shown in errors: printable as is, the rest as \xNN, and never more than a line's worth.
std::string shown(std::string_view s) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s.substr(0, 60)) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    if (s.size() > 60) out += "...";
    return out;
}

} // namespace

bool parseProfile(std::string_view text, ScpiProfile* profile, std::string* error) {
    ScpiProfile p = *profile;
    const std::array<std::pair<std::string_view, std::string*>, 9> strings{
        {{"identify", &p.identify},
         {"errorQuery", &p.errorQuery},
         {"measureCurrent", &p.measureCurrent},
         {"measureVoltage", &p.measureVoltage},
         {"sourceCurrent", &p.sourceCurrent},
         {"sourceVoltage", &p.sourceVoltage},
         {"outputOn", &p.outputOn},
         {"outputOff", &p.outputOff},
         {"terminator", &p.terminator}}};
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t eq = line.find('=');
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view{} : trim(line.substr(eq + 1));
        bool known = false;
        // Milliseconds within [least, 600000].
        auto milliseconds = [&](unsigned least, std::chrono::milliseconds* field) {
            unsigned ms = 0;
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), ms);
            if (ec != std::errc{} || ptr != value.data() + value.size() || ms < least || ms > 600000)
                return false;
            *field = std::chrono::milliseconds(ms);
            return true;
        };
        if (key == "timeout") {
            known = milliseconds(1, &p.timeout);
        } else if (key == "meterSpacing") {
            known = milliseconds(0, &p.meterSpacing);
        } else {
            for (auto& [name, field] : strings) {
                if (key != name || value.empty()) continue;
                *field = name == "terminator" ? unescape(value) : std::string(value);
                known = true;
            }
        }
        if (eq == std::string_view::npos || !known) {
            *error = "line " + std::to_string(number) + ": " + shown(line);
            return false;
        }
    }
    *profile = std::move(p);
    return true;
}

std::optional<double> parseScpiNumber(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    // 9.9E37 is SCPI's "overload"; a reading it is not.
    if (text.empty() || ec != std::errc{} || ptr != text.data() + text.size() || !std::isfinite(v) ||
        std::fabs(v) >= 9.9e37)
        return std::nullopt;
    return v;
}

std::string scpiLevel(std::string_view command, double value) {
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 9);
    return std::string(command) + ' ' + std::string(buf, r.ptr);
}

ScpiInstrument::ScpiInstrument(std::string role, std::unique_ptr<Transport> transport, ScpiProfile profile)
    : role_(std::move(role)), transport_(std::move(transport)), profile_(std::move(profile)) {}

bool ScpiInstrument::fail(std::string what) {
    if (error_.empty()) error_ = role_ + ": " + std::move(what);
    return false;
}

bool ScpiInstrument::send(std::string_view command) {
    if (failed()) return false;
    std::string reason;
    if (!transport_->send(std::string(command) + profile_.terminator, &reason))
        return fail("cannot send " + std::string(command) + ": " + reason);
    return true;
}

std::optional<std::string> ScpiInstrument::query(std::string_view command) {
    // What came after an earlier reply is no answer to this question.
    pending_.clear();
    if (!send(command)) return std::nullopt;
    const std::string& term = profile_.terminator;
    const auto deadline = std::chrono::steady_clock::now() + profile_.timeout;
    std::array<char, 512> buf;
    for (;;) {
        if (const std::size_t at = pending_.find(term); at != std::string::npos) {
            std::string reply = pending_.substr(0, at);
            pending_.erase(0, at + term.size());
            for (unsigned char c : reply) {
                if ((c < 0x20 && c != '\t' && c != '\r') || c >= 0x7F) {
                    fail("garbage answer to " + std::string(command) + ": " + shown(reply));
                    return std::nullopt;
                }
            }
            return std::string(trim(reply));
        }
        if (pending_.size() > kMaxScpiReply) {
            fail("garbage answer to " + std::string(command) + " (no end of line): " + shown(pending_));
            return std::nullopt;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const ReadResult r =
            transport_->receive(buf.data(), buf.size(), std::max(left, std::chrono::milliseconds(0)));
        if (r.status == ReadStatus::Closed) {
            fail("connection lost waiting for the answer to " + std::string(command) +
                 (r.reason.empty() ? "" : ": " + r.reason));
            return std::nullopt;
        }
        if (r.status == ReadStatus::TimedOut) {
            fail("no answer to " + std::string(command) + " within " +
                 std::to_string(profile_.timeout.count()) + " ms" +
                 (pending_.empty() ? "" : " (got " + shown(pending_) + ")"));
            return std::nullopt;
        }
        pending_.append(buf.data(), r.count);
    }
}

bool ScpiInstrument::checkErrors() {
    // A queue that never empties is an instrument gone wrong; a bound keeps this from spinning.
    for (int i = 0; i < 32; ++i) {
        const auto reply = query(profile_.errorQuery);
        if (!reply) return false;
        const std::string_view r = *reply;
        const std::size_t comma = r.find(',');
        int code = 0;
        const std::string_view codeText = trim(r.substr(0, comma));
        const char* first = codeText.data() + (codeText.starts_with('+') ? 1 : 0);
        const auto [ptr, ec] = std::from_chars(first, codeText.data() + codeText.size(), code);
        if (codeText.empty() || ec != std::errc{} || ptr != codeText.data() + codeText.size())
            return fail("garbage answer to " + profile_.errorQuery + ": " + shown(r));
        if (code == 0) return true;
        return fail("reports error " + shown(r));
    }
    return fail("error queue does not empty");
}

bool ScpiInstrument::identify() {
    const auto reply = query(profile_.identify);
    if (!reply) return false;
    // Maker, model, serial number, firmware: at least the first two.
    if (reply->empty() || reply->find(',') == std::string::npos)
        return fail("garbage answer to " + profile_.identify + ": " + shown(*reply));
    identity_ = *reply;
    return checkErrors();
}

std::optional<double> ScpiInstrument::measure(Quantity quantity) {
    const std::string& command =
        quantity == Quantity::Current ? profile_.measureCurrent : profile_.measureVoltage;
    const auto reply = query(command);
    if (!reply) return std::nullopt;
    const auto value = parseScpiNumber(*reply);
    if (!value) {
        fail("garbage answer to " + command + ": " + shown(*reply));
        return std::nullopt;
    }
    if (!checkErrors()) return std::nullopt;
    return value;
}

bool ScpiInstrument::source(Quantity quantity, double value) {
    const std::string& command =
        quantity == Quantity::Current ? profile_.sourceCurrent : profile_.sourceVoltage;
    // The level is checked before the output goes on: a refused level would leave the last one in force.
    return send(scpiLevel(command, value)) && checkErrors() && send(profile_.outputOn) && checkErrors();
}

bool ScpiInstrument::off() {
    // Even an instrument that has failed is asked, once and without waiting: a source left on is worse
    // than a wasted line.
    if (failed()) {
        std::string reason;
        transport_->send(profile_.outputOff + profile_.terminator, &reason);
        return false;
    }
    return send(profile_.outputOff) && checkErrors();
}

} // namespace vx::station
