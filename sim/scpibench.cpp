#include "sim/scpibench.h"

#include "sim/ptyloop.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx::sim {
namespace {

// Long forms to their short forms, so both spellings of a header are taken.
std::string shortHeader(std::string_view header) {
    static constexpr std::pair<std::string_view, std::string_view> kLong[] = {
        {"MEASURE", "MEAS"}, {"CURRENT", "CURR"}, {"VOLTAGE", "VOLT"}, {"SOURCE", "SOUR"},
        {"OUTPUT", "OUTP"},  {"SYSTEM", "SYST"},  {"ERROR", "ERR"}};
    std::string out;
    std::size_t at = 0;
    while (at <= header.size()) {
        const std::size_t end = std::min(header.find(':', at), header.size());
        std::string token;
        for (char c : header.substr(at, end - at))
            token += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const auto& [l, s] : kLong)
            if (token == l) token = s;
        if (!out.empty() || at > 0) out += ':';
        out += token;
        at = end + 1;
    }
    return out;
}

std::optional<double> number(std::string_view t) {
    while (!t.empty() && t.front() == ' ')
        t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ')
        t.remove_suffix(1);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    double v = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc{} || ptr != t.data() + t.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace

ScpiResponder::ScpiResponder(Role role, const MeterOptions& meter, std::function<OutputLevel()> output,
                             std::function<void(const Signal&)> apply)
    : role_(role), meter_(meter), output_(std::move(output)), apply_(std::move(apply)), random_(meter.seed),
      clock_([] {
          return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
      }) {}

void ScpiResponder::advanceLag() {
    const double now = clock_();
    const OutputLevel out = output_();
    if (!target_) {
        shownMa_ = out.currentMa, shownV_ = out.voltageV;
    } else {
        // Exact for an output that holds between the calls: follow() sees each change as it happens.
        const double k = std::exp(-(now - at_) * 1000.0 / meter_.settleMs);
        shownMa_ = target_->currentMa + (shownMa_ - target_->currentMa) * k;
        shownV_ = target_->voltageV + (shownV_ - target_->voltageV) * k;
    }
    target_ = out;
    at_ = now;
}

void ScpiResponder::follow() {
    if (role_ == Role::Meter && meter_.settleMs > 0) advanceLag();
}

void ScpiResponder::error(int code, const char* text) {
    // A real instrument's queue is bounded too; the oldest stay, the last says it overflowed.
    if (errors_.size() < 16) errors_.push_back(std::to_string(code) + ",\"" + text + "\"");
}

std::string ScpiResponder::reading(double value) {
    value *= 1.0 + noise_(random_) * meter_.noisePpm * 1e-6;
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific,
                                 std::clamp(meter_.digits, 1, 12) - 1);
    return std::string(buf, r.ptr);
}

void ScpiResponder::applyLevel() {
    Signal s;
    // Off leaves the input open (0 mA) or shorted by the source (0 V) alike: no signal.
    s.low = s.high = on_ ? (current_ ? level_ * 1000.0 : level_) : 0.0;
    apply_(s);
}

std::optional<std::string> ScpiResponder::handle(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    if (line.empty()) return std::nullopt;
    const std::size_t space = line.find(' ');
    const std::string header = shortHeader(line.substr(0, space));
    const std::string_view argument =
        space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
    const bool meter = role_ == Role::Meter;

    if (header == "*IDN?")
        return meter ? "VX-SIM,Reference Meter 6.5,SIM0001,1.0" : "VX-SIM,Calibrator,SIM0002,1.0";
    if (header == "SYST:ERR?" || header == "SYST:ERR:NEXT?") {
        if (errors_.empty()) return "0,\"No error\"";
        std::string e = errors_.front();
        errors_.pop_front();
        return e;
    }
    if (header == "*CLS") {
        errors_.clear();
        return std::nullopt;
    }
    if (header == "*RST") {
        if (!meter) {
            on_ = false;
            level_ = 0.0;
            applyLevel();
        }
        return std::nullopt;
    }
    const bool measureCurrent = header == "MEAS:CURR:DC?" || header == "MEAS:CURR?";
    if (meter && (measureCurrent || header == "MEAS:VOLT:DC?" || header == "MEAS:VOLT?")) {
        if (meter_.settleMs <= 0)
            return reading(measureCurrent ? output_().currentMa / 1000.0 : output_().voltageV);
        advanceLag();
        return reading(measureCurrent ? shownMa_ / 1000.0 : shownV_);
    }
    if (!meter && (header == "SOUR:VOLT" || header == "SOUR:CURR" || header == "VOLT" || header == "CURR")) {
        const bool current = header.ends_with("CURR");
        const auto v = number(argument);
        if (!v) {
            error(-104, "Data type error");
            return std::nullopt;
        }
        if (std::fabs(*v) > (current ? kSourceLimitA : kSourceLimitV)) {
            error(-222, "Data out of range");
            return std::nullopt;
        }
        // Switching between voltage and current drops the output first, as a calibrator does.
        if (current != current_) on_ = false;
        current_ = current;
        level_ = *v;
        applyLevel();
        return std::nullopt;
    }
    if (!meter && header == "OUTP") {
        std::string a;
        for (char c : argument)
            if (c != ' ') a += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (a != "ON" && a != "OFF" && a != "1" && a != "0") {
            error(-104, "Data type error");
            return std::nullopt;
        }
        on_ = a == "ON" || a == "1";
        applyLevel();
        return std::nullopt;
    }
    error(-113, "Undefined header");
    return std::nullopt;
}

bool parseScpiPlace(std::string_view text, ScpiPlace* out, std::string* error) {
    ScpiPlace p;
    if (text.starts_with("tcp:")) {
        const std::string_view n = text.substr(4);
        unsigned v = 0;
        const auto [ptr, ec] = std::from_chars(n.data(), n.data() + n.size(), v);
        if (n.empty() || ec != std::errc{} || ptr != n.data() + n.size() || v == 0 || v > 65535) {
            *error = "bad TCP port in '" + std::string(text) + "'";
            return false;
        }
        p.tcp = true;
        p.port = static_cast<std::uint16_t>(v);
    } else if (!text.empty()) {
        p.link = text;
    } else {
        *error = "empty place";
        return false;
    }
    *out = p;
    return true;
}

ScpiPort::~ScpiPort() {
    for (int fd : {listen_, client_, master_, slave_})
        if (fd >= 0) ::close(fd);
    // The link goes only while it still points at this run's device.
    char buf[512];
    const ssize_t n = link_.empty() ? -1 : ::readlink(link_.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == device_) ::unlink(link_.c_str());
}

bool ScpiPort::open(const ScpiPlace& place, std::string* error) {
    if (place.tcp) {
        listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(place.port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // the bench stays on this machine
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listen_, 2) != 0) {
            *error = "cannot listen on 127.0.0.1:" + std::to_string(place.port) + ": " + std::strerror(errno);
            return false;
        }
        where_ = "tcp:127.0.0.1:" + std::to_string(place.port);
        return true;
    }
    Pty pty;
    if (!openPty(&pty, error)) return false;
    master_ = pty.master;
    slave_ = pty.slave;
    device_ = pty.path;
    // A link left by an earlier run is replaced; any other file there is not ours to remove.
    struct stat st {};
    if (::lstat(place.link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = place.link + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(place.link.c_str());
    }
    if (::symlink(device_.c_str(), place.link.c_str()) != 0) {
        *error = "cannot link " + place.link + ": " + std::strerror(errno);
        return false;
    }
    link_ = place.link;
    where_ = device_;
    return true;
}

std::vector<int> ScpiPort::fds() const {
    std::vector<int> v;
    for (int fd : {listen_, client_, master_})
        if (fd >= 0) v.push_back(fd);
    return v;
}

void ScpiPort::readable(int fd) {
    if (fd == listen_) {
        const int c = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c < 0) return;
        if (client_ >= 0) ::close(client_);
        client_ = c;
        lines_ = LineSplitter(1024);
        return;
    }
    if (fd == client_ || fd == master_) serve(fd);
}

void ScpiPort::serve(int fd) {
    char buf[1024];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        // A TCP client that left; a pseudo-terminal master never ends since the slave is held open.
        if (fd == client_) {
            ::close(client_);
            client_ = -1;
        }
        return;
    }
    for (const LineSplitter::Line& line : lines_.feed({buf, static_cast<std::size_t>(n)})) {
        if (line.tooLong) continue;
        if (const auto answer = responder_.handle(line.text)) {
            const std::string out = *answer + "\n";
            writeAll(fd, reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
        }
    }
}

} // namespace vx::sim
