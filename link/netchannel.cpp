#include "link/netchannel.h"

#include "common/pictureformat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace mb::port {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kRawScheme = "tcp://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";

int remainingMs(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string shown(const NetAddress& a) {
    const bool v6 = a.host.find(':') != std::string::npos;
    return (v6 ? "[" + a.host + "]" : a.host) + ":" + std::to_string(a.port);
}

OpenError failure(int error, std::string reason) {
    OpenError e;
    e.kind = OpenFailure::Other;
    e.error = error;
    e.system = std::strerror(error);
    e.reason = std::move(reason);
    return e;
}

OpenError connectFailure(const NetAddress& a, int error, std::chrono::milliseconds bound) {
    switch (error) {
    case ECONNREFUSED:
        return failure(error, shown(a) + " refused the connection: nothing listens on that port.");
    case EHOSTUNREACH:
    case ENETUNREACH:
        return failure(error, shown(a) + " is unreachable: no route to that address.");
    case ETIMEDOUT:
        return failure(error, shown(a) + " did not answer within " + std::to_string(bound.count()) + " ms.");
    case ECANCELED:
        return failure(error, "The connection to " + shown(a) + " was cancelled.");
    default:
        return failure(error, shown(a) + " cannot be reached: " + std::strerror(error) + ".");
    }
}

// Keep-alive finds a server that vanished without a word (power cut, cable) while the link is idle in
// a wait; the user time-out does the same for bytes that are never acknowledged.
void tuneSocket(int fd) {
    const int on = 1, idle = 5, interval = 2, count = 3, userTimeoutMs = 10000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

// Waits for `events` on fd until `until`, or until cancelFd turns readable: the poll's count (0 on
// time-out), -1 with errno ECANCELED when cancelled.
int pollOrCancel(int fd, short events, Clock::time_point until, int cancelFd) {
    pollfd p[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
    int n;
    while ((n = ::poll(p, cancelFd >= 0 ? 2 : 1, remainingMs(until))) < 0 && errno == EINTR) {
    }
    if (n > 0 && cancelFd >= 0 && (p[1].revents & POLLIN)) {
        errno = ECANCELED;
        return -1;
    }
    return n;
}

} // namespace

bool isNetworkAddress(std::string_view name) {
    return name.starts_with(kRawScheme) || name.starts_with(kRfc2217Scheme);
}

std::optional<NetAddress> parseNetAddress(std::string_view name) {
    NetAddress a;
    if (name.starts_with(kRawScheme)) {
        name.remove_prefix(kRawScheme.size());
    } else if (name.starts_with(kRfc2217Scheme)) {
        a.kind = NetKind::Rfc2217;
        name.remove_prefix(kRfc2217Scheme.size());
    } else {
        return std::nullopt;
    }
    const auto colon = name.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = name.substr(0, colon), port = name.substr(colon + 1);
    if (host.starts_with('[')) {
        if (!host.ends_with(']')) return std::nullopt;
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
        return std::nullopt; // a bare IPv6 literal is ambiguous about where the port begins
    }
    if (host.empty() || host.find_first_of("/ \t") != std::string_view::npos) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
        return std::nullopt;
    a.host = std::string(host);
    a.port = static_cast<std::uint16_t>(value);
    return a;
}

int connectTcp(const NetAddress& address, std::chrono::milliseconds bound, OpenError* err, int cancelFd) {
    const auto until = Clock::now() + bound;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.port);
    if (const int rc = ::getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        if (err) {
            *err = failure(EHOSTUNREACH, "");
            err->system = ::gai_strerror(rc);
            err->reason = "The host " + address.host + " is unknown: " + err->system + ".";
        }
        return -1;
    }
    int lastError = ETIMEDOUT;
    int fd = -1;
    for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            const int n = pollOrCancel(fd, POLLOUT, until, cancelFd);
            int soError = n < 0 ? errno : ETIMEDOUT;
            socklen_t len = sizeof soError;
            if (n > 0) ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            errno = soError;
            rc = soError == 0 ? 0 : -1;
        }
        if (rc != 0) {
            lastError = errno;
            ::close(fd);
            fd = -1;
            if (remainingMs(until) == 0 || lastError == ECANCELED) break;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        if (err) *err = connectFailure(address, lastError, bound);
        return -1;
    }
    tuneSocket(fd);
    return fd;
}

ConnectProbe::State ConnectProbe::start(const NetAddress& address) {
    reset();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found) != 0)
        return State::Failed;
    fd_ = ::socket(found->ai_family, found->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, found->ai_protocol);
    const bool started =
        fd_ >= 0 && (::connect(fd_, found->ai_addr, found->ai_addrlen) == 0 || errno == EINPROGRESS);
    ::freeaddrinfo(found);
    if (!started) {
        reset();
        return State::Failed;
    }
    return check();
}

ConnectProbe::State ConnectProbe::check() {
    if (fd_ < 0) return State::Failed;
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 0) return State::Pending;
    int soError = 0;
    socklen_t len = sizeof soError;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len);
    reset();
    return soError == 0 ? State::Accepted : State::Failed;
}

void ConnectProbe::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void RoundTrip::replied(Clock::time_point t) {
    if (!sentAt_) return;
    sum_ += t - *sentAt_;
    ++count_;
    sentAt_.reset();
}

std::optional<std::chrono::microseconds> RoundTrip::take() {
    if (count_ == 0) return std::nullopt;
    const auto mean = std::chrono::duration_cast<std::chrono::microseconds>(sum_ / count_);
    sum_ = {};
    count_ = 0;
    return mean;
}

std::string roundTripText(std::chrono::microseconds mean) {
    return "Round trip: " + vx::formatPicture(static_cast<double>(mean.count()) / 1000.0, "0.0") + " ms";
}

std::chrono::milliseconds reconnectDelay(unsigned attempt) {
    return std::chrono::milliseconds(250) * (1u << std::min(attempt, 4u));
}

bool NetChannel::open(const NetAddress& address, const LineSettings& line, std::chrono::milliseconds bound,
                      OpenError* err, int cancelFd) {
    close();
    const auto until = Clock::now() + bound;
    const int fd = connectTcp(address, bound, err, cancelFd);
    if (fd < 0) return false;
    adopt(fd);
    kind_ = address.kind;
    if (kind_ == NetKind::Raw) return true;

    telnet_.emplace(line.baud);
    if (!send(telnet_->start())) {
        if (err) *err = failure(EPIPE, shown(address) + " closed the connection at once.");
        close();
        return false;
    }
    // The line is usable once the server has set it up and emptied its port; data before that is
    // left over from before and thrown away.
    std::uint8_t buf[512];
    for (;;) {
        std::lock_guard lock(mutex_);
        if (telnet_->ready()) return true;
        if (telnet_->refused()) break;
        const int n = pollOrCancel(this->fd(), POLLIN, until, cancelFd);
        if (n < 0 && errno == ECANCELED) {
            if (err) *err = connectFailure(address, ECANCELED, bound);
            close();
            return false;
        }
        if (n <= 0) break;
        const ReadResult r = FdChannel::read(buf);
        if (r.lost) {
            if (err)
                *err = failure(r.error ? r.error : ECONNRESET, shown(address) + " closed the connection.");
            FdChannel::close();
            return false;
        }
        std::vector<std::uint8_t> reply;
        telnet_->receive(std::span(buf, r.count), reply);
        if (!reply.empty()) FdChannel::write(reply);
    }
    if (err)
        *err =
            failure(EPROTO, shown(address) + " is no RFC 2217 server (it did not take the line settings); " +
                                "try tcp:// for a raw port.");
    close();
    return false;
}

ReadResult NetChannel::read(std::span<std::uint8_t> buf) {
    ReadResult r = FdChannel::read(buf);
    // Acknowledge at once: a server that sends a reply in pieces without TCP_NODELAY waits for our
    // acknowledgement of the first before sending the rest, and a delayed one costs 40 ms a reply. The
    // kernel drops back to delayed acknowledgements by itself, so this is renewed on every read.
    const int on = 1;
    if (r.count > 0) ::setsockopt(fd(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    if (kind_ == NetKind::Raw || r.count == 0) return r;
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> reply;
    r.count = telnet_->receive(buf.first(r.count), reply);
    if (!reply.empty()) FdChannel::write(reply);
    return r;
}

bool NetChannel::send(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    return FdChannel::write(bytes);
}

bool NetChannel::write(std::span<const std::uint8_t> bytes) {
    if (kind_ == NetKind::Raw) return FdChannel::write(bytes);
    std::vector<std::uint8_t> escaped;
    escaped.reserve(bytes.size() + 8);
    rfc2217::escape(bytes, escaped);
    return send(escaped);
}

std::size_t NetChannel::pendingOutput() const {
    std::lock_guard lock(mutex_);
    return FdChannel::pendingOutput();
}

void NetChannel::flush() {
    std::lock_guard lock(mutex_);
    FdChannel::flush();
}

void NetChannel::close() {
    std::lock_guard lock(mutex_);
    FdChannel::close();
    telnet_.reset();
    kind_ = NetKind::Raw;
}

std::optional<std::uint32_t> NetChannel::serverBaud() const {
    std::lock_guard lock(mutex_);
    return telnet_ ? telnet_->serverBaud() : std::nullopt;
}

std::uint8_t NetChannel::modemState() const {
    std::lock_guard lock(mutex_);
    return telnet_ ? telnet_->modemState() : 0;
}

} // namespace mb::port
