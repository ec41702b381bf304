#include "station/transport.h"

#include "common/regularfile.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace vx::station {
namespace {

class FdTransport : public Transport {
public:
    FdTransport(int fd, bool exclusive) : fd_(fd), exclusive_(exclusive) {}
    ~FdTransport() override {
        // The exclusive mark outlives this descriptor while anyone else holds the line open.
        if (exclusive_) ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }

    bool send(std::string_view bytes, std::string* reason) override {
        // SCPI commands are short; a line that will not take one within a second is not there.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            const ssize_t w = n < 0 && errno == ENOTSOCK ? ::write(fd_, bytes.data(), bytes.size()) : n;
            if (w > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(w));
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                *reason = std::strerror(errno);
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                *reason = "the line does not take the command";
                return false;
            }
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
        return true;
    }

    ReadResult receive(char* buffer, std::size_t size, std::chrono::milliseconds wait) override {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, size);
            if (n > 0) return {ReadStatus::Data, static_cast<std::size_t>(n), {}};
            if (n == 0) return {ReadStatus::Closed, 0, "closed by the instrument"};
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return {ReadStatus::Closed, 0, std::strerror(errno)};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {ReadStatus::TimedOut, 0, {}};
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) > 0 && (p.revents & (POLLHUP | POLLERR)) &&
                !(p.revents & POLLIN))
                return {ReadStatus::Closed, 0, "hung up"};
        }
    }

private:
    int fd_;
    bool exclusive_;
};

// The kernel's USBTMC driver answers a read with one reply message (or its own time-out), so a read
// is a request here, not a wait on the descriptor.
class UsbtmcTransport : public Transport {
public:
    explicit UsbtmcTransport(int fd) : fd_(fd) {}
    ~UsbtmcTransport() override { ::close(fd_); }

    bool send(std::string_view bytes, std::string* reason) override {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n == static_cast<ssize_t>(bytes.size())) return true;
        *reason = n < 0 ? std::strerror(errno) : "short write";
        return false;
    }

    ReadResult receive(char* buffer, std::size_t size, std::chrono::milliseconds wait) override {
        unsigned timeout = static_cast<unsigned>(std::max<long long>(wait.count(), 100));
        ::ioctl(fd_, USBTMC_IOCTL_SET_TIMEOUT, &timeout);
        const ssize_t n = ::read(fd_, buffer, size);
        if (n > 0) return {ReadStatus::Data, static_cast<std::size_t>(n), {}};
        if (n < 0 && errno == ETIMEDOUT) return {ReadStatus::TimedOut, 0, {}};
        return {ReadStatus::Closed, 0, n < 0 ? std::strerror(errno) : "no data"};
    }

private:
    int fd_;
};

speed_t speedOf(std::uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

int openSerial(const Endpoint& e, std::string* error) {
    const int fd = ::open(e.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + e.path + ": " + std::strerror(errno);
        return -1;
    }
    termios t{};
    if (::ioctl(fd, TIOCEXCL) != 0 || ::tcgetattr(fd, &t) != 0) {
        *error = "cannot use " + e.path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | (e.dataBits == 7 ? CS7 : CS8);
    if (e.parity != 'N') t.c_cflag |= PARENB | (e.parity == 'O' ? PARODD : 0);
    if (e.stopBits == 2) t.c_cflag |= CSTOPB;
    ::cfsetispeed(&t, speedOf(e.baud));
    ::cfsetospeed(&t, speedOf(e.baud));
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        *error = "cannot set the line of " + e.path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

int openTcp(const Endpoint& e, std::chrono::milliseconds timeout, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(e.port);
    if (const int r = ::getaddrinfo(e.path.c_str(), port.c_str(), &hints, &found); r != 0) {
        *error = "cannot find " + e.path + ": " + ::gai_strerror(r);
        return -1;
    }
    int fd = -1;
    *error = "cannot connect to " + describe(e);
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int soError = ETIMEDOUT;
            socklen_t len = sizeof soError;
            if (::poll(&p, 1, static_cast<int>(timeout.count())) > 0)
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
            errno = soError;
        } else {
            errno = 0;
        }
        if (errno != 0) {
            *error += std::string(": ") + std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // short commands, waited for
        error->clear();
    }
    return fd;
}

bool parseNumber(std::string_view t, std::uint32_t max, std::uint32_t* out) {
    std::uint32_t v = 0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc{} || ptr != t.data() + t.size() || v == 0 || v > max) return false;
    *out = v;
    return true;
}

} // namespace

bool parseEndpoint(std::string_view text, Endpoint* out, std::string* error) {
    Endpoint e;
    auto bad = [&] {
        *error = "not an instrument address: '" + std::string(text) + "'";
        return false;
    };
    if (text.starts_with("tcp:")) {
        e.kind = Endpoint::Kind::Tcp;
        std::string_view rest = text.substr(4);
        if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
            std::uint32_t port = 0;
            if (!parseNumber(rest.substr(colon + 1), 65535, &port)) return bad();
            e.port = static_cast<std::uint16_t>(port);
            rest = rest.substr(0, colon);
        }
        e.path = rest;
    } else if (text.starts_with("usbtmc:") || text.starts_with("/dev/usbtmc")) {
        e.kind = Endpoint::Kind::Usbtmc;
        e.path = text.starts_with("usbtmc:") ? text.substr(7) : text;
    } else {
        std::string_view rest = text.starts_with("serial:") ? text.substr(7) : text;
        const std::size_t colon = rest.find(':');
        e.path = rest.substr(0, colon);
        if (colon != std::string_view::npos) {
            rest = rest.substr(colon + 1);
            const std::size_t second = rest.find(':');
            if (!parseNumber(rest.substr(0, second), 4000000, &e.baud) || speedOf(e.baud) == B0) return bad();
            if (second != std::string_view::npos) {
                const std::string_view frame = rest.substr(second + 1);
                if (frame.size() != 3 || (frame[0] != '7' && frame[0] != '8') ||
                    std::string_view("NEO").find(frame[1]) == std::string_view::npos ||
                    (frame[2] != '1' && frame[2] != '2'))
                    return bad();
                e.dataBits = frame[0] - '0';
                e.parity = frame[1];
                e.stopBits = frame[2] - '0';
            }
        }
    }
    if (e.path.empty()) return bad();
    *out = e;
    return true;
}

std::string describe(const Endpoint& e) {
    switch (e.kind) {
    case Endpoint::Kind::Tcp:
        return "tcp:" + e.path + ":" + std::to_string(e.port);
    case Endpoint::Kind::Usbtmc:
        return e.path;
    case Endpoint::Kind::Serial:
        break;
    }
    return e.path + " " + std::to_string(e.baud) + " " + std::to_string(e.dataBits) + e.parity +
           std::to_string(e.stopBits);
}

std::unique_ptr<Transport> fdTransport(int fd) {
    return std::make_unique<FdTransport>(fd, false);
}

std::unique_ptr<Transport> openTransport(const Endpoint& e, std::chrono::milliseconds timeout,
                                         std::string* error) {
    if (e.kind == Endpoint::Kind::Usbtmc) {
        const int fd = ::open(e.path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            *error = "cannot open " + e.path + ": " + std::strerror(errno);
            return nullptr;
        }
        return std::make_unique<UsbtmcTransport>(fd);
    }
    const bool serial = e.kind == Endpoint::Kind::Serial;
    const int fd = serial ? openSerial(e, error) : openTcp(e, timeout, error);
    return fd < 0 ? nullptr : std::make_unique<FdTransport>(fd, serial);
}

// A profile is a few lines; anything much larger is not one.
constexpr std::size_t kMaxProfileBytes = 64 * 1024;

bool loadProfile(const std::string& file, ScpiProfile* profile, std::string* error) {
    if (file.empty()) return true;
    const RegularFileRead read = readRegularFile(file, kMaxProfileBytes);
    std::string why;
    switch (read.result) {
    case RegularFileRead::Result::Ok:
        if (parseProfile(read.data, profile, &why)) return true;
        break;
    case RegularFileRead::Result::NotRegular:
        why = "not a regular file";
        break;
    case RegularFileRead::Result::TooLarge:
        why = "larger than " + std::to_string(kMaxProfileBytes / 1024) + " KiB, not a profile";
        break;
    case RegularFileRead::Result::Failed:
        why = std::strerror(read.error);
        break;
    }
    *error = file + ": " + why;
    return false;
}

OpenedInstrument openInstrument(const std::string& role, std::string_view address,
                                const std::string& profileFile) {
    OpenedInstrument out;
    ScpiProfile profile;
    Endpoint endpoint;
    std::unique_ptr<Transport> transport;
    if (!loadProfile(profileFile, &profile, &out.error))
        out.failure = OpenedInstrument::Failure::Profile;
    else if (!parseEndpoint(address, &endpoint, &out.error))
        out.failure = OpenedInstrument::Failure::Address;
    else if (!(transport = openTransport(endpoint, profile.timeout, &out.error)))
        out.failure = OpenedInstrument::Failure::Unavailable;
    else
        out.instrument = std::make_unique<ScpiInstrument>(role, std::move(transport), std::move(profile));
    return out;
}

} // namespace vx::station
