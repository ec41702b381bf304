#pragma once
// The serial layer on Linux: a thin termios layer over the port's descriptor. The receive thread polls
// the descriptor; nothing here starts threads or timers.
#include "link/bytechannel.h"

#include <cstdint>
#include <string>

namespace mb::port {

enum class OpenFailure { None, NoPermission, Busy, Gone, RateRefused, Other };

struct OpenError {
    OpenFailure kind = OpenFailure::None;
    int error = 0;      // errno
    std::string system; // the system's error text
    std::string reason; // one line for an engineer: what went wrong and what to do
};

struct LineSettings {
    std::uint32_t baud = 115200;
    std::uint32_t queueIn = 8192; // requested driver queue sizes; Linux ttys have fixed ones
    std::uint32_t queueOut = 8192;
};

class SerialPort : public FdChannel {
public:
    ~SerialPort() override { SerialPort::close(); }
    // Opens the device exclusively (TIOCEXCL and an advisory lock, so another name of the same device
    // is refused as well), sets 8N1 raw binary at the given rate without flow control, asks the driver
    // for low-latency delivery where it takes the request, lowers DTR and RTS and discards whatever the
    // queues held. On failure nothing stays open.
    bool open(const std::string& path, const LineSettings& line, OpenError* err);
    // Gives the driver back the latency it had, discards what it still holds for sending, then closes:
    // the last close of a tty otherwise waits until its output has drained, up to 30 s for a request
    // queued at a slow rate.
    void close() override;
    // Whether this open set the driver's low-latency flag (and close will clear it again).
    bool lowLatencySet() const { return lowLatencySet_; }

private:
    bool lowLatencySet_ = false;
};

// Opens the device exclusively and closes it at once, applying no settings: true if it could be used.
bool probePort(const std::string& path, OpenError* err = nullptr);

// Classifies an errno from opening a port and words it for the port lamp's tooltip.
OpenError describeOpenError(const std::string& path, int error);

} // namespace mb::port
