// The port operations the link needs, mapped onto Linux in this one file:
//   open exclusive          open(O_RDWR|O_NOCTTY|O_NONBLOCK) + flock(LOCK_EX|LOCK_NB) + TIOCEXCL
//                           (the lock also refuses a second opener through another name of the device,
//                           and holds for root, whom TIOCEXCL does not stop)
//   read / set line state   TCGETS2 / TCSETS2 (termios2, so any rate such as 7200 or 128000 can be
//                           asked for; the rate read back is checked)
//   driver queue sizes      none: Linux ttys have fixed queues, the requested sizes are kept only
//   purge both queues       TCFLSH(TCIOFLUSH), after the set-up, so stale bytes never reach the decoder
//   DTR and RTS low         TIOCMBIC(TIOCM_DTR|TIOCM_RTS) (ignored by devices without modem lines)
//   receive latency         TIOCGSERIAL/TIOCSSERIAL ASYNC_LOW_LATENCY, undone on close (see below)
//   wait for an event       poll() on the descriptor and the stop event, in TCommThread
//   bytes waiting / read    non-blocking read() of whatever is there
//   write                   non-blocking write(); the rest is kept and flushed when writable
//   close                   TCFLSH(TCIOFLUSH), so closing never waits for output to drain, then
//                           close(), which drops the lock
// The line set-up is done once with the final settings; the interim 9600-even-parity set-up that a
// Windows port needs between opening and the thread start has no purpose here.
#include "link/serialport_posix.h"

#include <asm/termbits.h> // termios2; <termios.h> must not be included alongside
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace mb::port {

namespace {

int openExclusive(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool rateClose(std::uint32_t asked, std::uint32_t got) {
    // A UART divisor rarely hits the rate exactly; 2% is what an asynchronous line tolerates.
    const double diff = static_cast<double>(asked) - static_cast<double>(got);
    return std::abs(diff) <= 0.02 * static_cast<double>(asked);
}

// A USB adapter holds what it receives for its latency timer before passing it on: 16 ms by default
// on an FTDI chip, a sixth of a poll cycle at 115200 bit/s. The low-latency flag has ftdi_sio set that
// timer to 1 ms. The serial core (on-board UARTs) keeps the flag without acting on it, several USB
// drivers take the request and drop it, and pseudo-terminals refuse it: none of that is an error.
// True when the flag was set here and reads back set, so that closing has something to undo.
bool requestLowLatency(int fd) {
    serial_struct s{};
    if (::ioctl(fd, TIOCGSERIAL, &s) != 0 || (s.flags & ASYNC_LOW_LATENCY)) return false;
    s.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &s) != 0) return false;
    serial_struct now{};
    return ::ioctl(fd, TIOCGSERIAL, &now) == 0 && (now.flags & ASYNC_LOW_LATENCY);
}

void clearLowLatency(int fd) {
    serial_struct s{};
    if (::ioctl(fd, TIOCGSERIAL, &s) != 0 || !(s.flags & ASYNC_LOW_LATENCY)) return;
    s.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &s); // a device already gone keeps nothing anyway
}

} // namespace

OpenError describeOpenError(const std::string& path, int error) {
    OpenError e;
    e.error = error;
    e.system = std::strerror(error);
    switch (error) {
    case EACCES:
    case EPERM:
        e.kind = OpenFailure::NoPermission;
        e.reason =
            "No permission to open " + path +
            ": the user is not in the dialout group (sudo usermod -aG dialout $USER, then log in again).";
        break;
    case EBUSY:
    case EWOULDBLOCK:
        e.kind = OpenFailure::Busy;
        e.reason = path + " is busy: another program holds it.";
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        e.kind = OpenFailure::Gone;
        e.reason = path + " is gone: the device is not present (unplugged?).";
        break;
    case ENOTTY:
        e.kind = OpenFailure::Other;
        e.reason = path + " is not a serial port.";
        break;
    default:
        e.kind = OpenFailure::Other;
        e.reason = path + " cannot be used: " + e.system + ".";
        break;
    }
    return e;
}

bool probePort(const std::string& path, OpenError* err) {
    int error = 0;
    const int fd = openExclusive(path, &error);
    if (fd < 0) {
        if (err) *err = describeOpenError(path, error);
        return false;
    }
    ::close(fd);
    return true;
}

bool SerialPort::open(const std::string& path, const LineSettings& line, OpenError* err) {
    close();
    int error = 0;
    const int fd = openExclusive(path, &error);
    auto fail = [&](int e) {
        if (err) *err = describeOpenError(path, e);
        if (fd >= 0) ::close(fd);
        return false;
    };
    if (fd < 0) return fail(error);
    if (::ioctl(fd, TIOCEXCL) != 0) return fail(errno);

    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return fail(errno);
    tio.c_iflag = 0; // binary: no parity check, no translation, no software flow control
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = line.baud;
    tio.c_ospeed = line.baud;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::ioctl(fd, TCSETS2, &tio) != 0) return fail(errno);

    termios2 taken{};
    if (::ioctl(fd, TCGETS2, &taken) != 0) return fail(errno);
    if (!rateClose(line.baud, taken.c_ospeed)) {
        if (err) {
            *err = describeOpenError(path, EINVAL);
            err->kind = OpenFailure::RateRefused;
            err->reason = path + " refused " + std::to_string(line.baud) + " bit/s (the driver set " +
                          std::to_string(taken.c_ospeed) + ").";
        }
        ::close(fd);
        return false;
    }

    const bool lowered = requestLowLatency(fd);
    ::ioctl(fd, TCFLSH, TCIOFLUSH);
    const int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines); // a pseudo-terminal has no modem lines: nothing to lower
    adopt(fd);
    lowLatencySet_ = lowered;
    return true;
}

void SerialPort::close() {
    if (fd() >= 0) {
        // The driver's own latency back first; then what it still holds for sending is discarded, as the
        // last close of a tty otherwise waits until its output has drained, up to 30 s at a slow rate.
        if (lowLatencySet_) clearLowLatency(fd());
        ::ioctl(fd(), TCFLSH, TCIOFLUSH);
    }
    lowLatencySet_ = false;
    FdChannel::close();
}

} // namespace mb::port
