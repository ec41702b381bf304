#include "sim/ptyloop.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vx::sim {

bool setRawLine(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B115200);
    cfsetospeed(&t, B115200);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool openPty(Pty* pty, std::string* error) {
    auto fail = [&](const char* what) {
        *error = std::string(what) + ": " + std::strerror(errno);
        closePty(pty);
        return false;
    };
    pty->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->master < 0) return fail("posix_openpt");
    if (grantpt(pty->master) != 0) return fail("grantpt");
    if (unlockpt(pty->master) != 0) return fail("unlockpt");
    char name[128];
    if (ptsname_r(pty->master, name, sizeof name) != 0) return fail("ptsname");
    pty->path = name;
    pty->slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (pty->slave < 0) return fail("open slave");
    if (!setRawLine(pty->slave)) return fail("termios");
    const int flags = fcntl(pty->master, F_GETFL);
    if (flags < 0 || fcntl(pty->master, F_SETFL, flags | O_NONBLOCK) != 0) return fail("fcntl");
    return true;
}

void closePty(Pty* pty) {
    if (pty->slave >= 0) close(pty->slave);
    if (pty->master >= 0) close(pty->master);
    pty->slave = pty->master = -1;
}

int openSerial(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (!setRawLine(fd)) {
        close(fd);
        return -1;
    }
    tcflush(fd, TCIOFLUSH);
    return fd;
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    int waits = 0;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        // Full: nobody is reading. Wait a little, then give the bytes up as a line would.
        if (++waits > 5) return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
    return true;
}

bool LoopHost::write(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0) return false;
    written_ += size;
    return deliver(data, size);
}

bool LoopHost::deliver(const std::uint8_t* data, std::size_t size) {
    return writeAll(fd_, data, size);
}

void LoopHost::startTimer(mb::LinkTimer t, unsigned ms) {
    deadlines_[static_cast<int>(t)] = Clock::now() + std::chrono::milliseconds(ms);
}

void LoopHost::stopTimer(mb::LinkTimer t) {
    deadlines_[static_cast<int>(t)].reset();
}

std::optional<Clock::time_point> LoopHost::nextDeadline() const {
    std::optional<Clock::time_point> next;
    for (const auto& d : deadlines_)
        if (d && (!next || *d < *next)) next = d;
    return next;
}

void LoopHost::fireDueTimers(Clock::time_point now) {
    for (int i = 0; i < 3; ++i) {
        if (deadlines_[i] && *deadlines_[i] <= now) {
            // The statistics timer is periodic; the others are single-shot.
            if (static_cast<mb::LinkTimer>(i) == mb::LinkTimer::Statistics)
                *deadlines_[i] += std::chrono::seconds(1);
            else
                deadlines_[i].reset();
            engine.timerExpired(static_cast<mb::LinkTimer>(i));
            afterEngine();
        }
    }
}

void LoopHost::received(const std::uint8_t* data, std::size_t size) {
    engine.bytesReceived(data, size);
    afterEngine();
}

bool LoopHost::readInput() {
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            received(buf, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < sizeof buf) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;
    }
}

bool LoopHost::runOnce(Clock::time_point until, std::optional<Clock::time_point> extraDeadline) {
    auto now = Clock::now();
    if (now >= until) return false;
    Clock::time_point wake = until;
    if (auto d = nextDeadline(); d && *d < wake) wake = *d;
    if (extraDeadline && *extraDeadline < wake) wake = *extraDeadline;
    const auto wait = std::max(wake - now, Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec ts{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
    std::vector<pollfd> p = {{fd_, POLLIN, 0}, {watched_, POLLIN, 0}};
    for (int fd : also_)
        p.push_back({fd, POLLIN, 0});
    // A negative descriptor is skipped by poll.
    const int r = ::ppoll(p.data(), p.size(), &ts, nullptr);
    if (r > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) && !readInput()) inputGone_ = true;
    if (r > 0 && watched_ >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) extraReadable();
    for (std::size_t i = 2; r > 0 && i < p.size(); ++i)
        if (p[i].revents & (POLLIN | POLLHUP | POLLERR)) alsoReadable(p[i].fd);
    fireDueTimers(Clock::now());
    return true;
}

} // namespace vx::sim
