#pragma once
// Network ports: an instrument behind a serial device server, reached as `tcp://host:port` (the
// server passes bytes unchanged) or `rfc2217://host:port` (Telnet COM Port Control, which also carries
// the line settings). Either is one more byte channel; a dropped connection reads as a lost device.
#include "link/core/rfc2217.h"
#include "link/serialport_posix.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace mb::port {

enum class NetKind : std::uint8_t { Raw, Rfc2217 };

struct NetAddress {
    NetKind kind = NetKind::Raw;
    std::string host; // without the brackets of an IPv6 literal
    std::uint16_t port = 0;
};

// Whether the name asks for a network port at all (so a malformed address is refused as one, never
// tried as a device path).
bool isNetworkAddress(std::string_view name);
// "tcp://host:port" or "rfc2217://host:port" (host may be "[v6]"); nullopt when malformed.
std::optional<NetAddress> parseNetAddress(std::string_view name);

// How long a connect, and an RFC 2217 server's agreement after it, may take before the open fails.
inline constexpr std::chrono::milliseconds kDefaultConnectBound{3000};

class NetChannel : public FdChannel {
public:
    ~NetChannel() override { NetChannel::close(); }
    // Connects within `bound` (never longer), with TCP_NODELAY and keep-alive on. For RFC 2217 it then
    // waits, within the same bound, until the server has taken the line settings and purged its port.
    // On failure nothing stays open and err says why in one line. A readable `cancelFd` ends the wait
    // at once (ECANCELED).
    bool open(const NetAddress& address, const LineSettings& line, std::chrono::milliseconds bound,
              OpenError* err, int cancelFd = -1);

    ReadResult read(std::span<std::uint8_t> buf) override;
    bool write(std::span<const std::uint8_t> bytes) override;
    std::size_t pendingOutput() const override;
    void flush() override;
    void close() override;

    // The RFC 2217 server's view of the line; empty for a raw port.
    std::optional<std::uint32_t> serverBaud() const;
    std::uint8_t modemState() const;

private:
    // Sends under the lock: the receive thread answers the server while the GUI thread writes frames,
    // and a Telnet sequence must never be cut by the other's bytes.
    bool send(std::span<const std::uint8_t> bytes);

    NetKind kind_ = NetKind::Raw;
    // Recursive: the base class's write() flushes through the virtual flush(), which locks again.
    mutable std::recursive_mutex mutex_;
    std::optional<rfc2217::Client> telnet_;
};

// Waiting for a lost server without holding up the window: a connect that is started and then only
// looked at, never waited for. The real open follows once the server takes connections again.
class ConnectProbe {
public:
    enum class State : std::uint8_t { Pending, Accepted, Failed };
    ~ConnectProbe() { reset(); }
    // Starts a non-blocking connect; Failed at once when the address cannot be resolved or is refused.
    State start(const NetAddress& address);
    // Where the connect stands now; Accepted and Failed close the probe's socket.
    State check();
    void reset();

private:
    int fd_ = -1;
};

// The round trip over a network port, request handed over to good reply, as the panel shows it: the
// mean over the transactions since it last looked.
class RoundTrip {
public:
    using Clock = std::chrono::steady_clock;
    void sent(Clock::time_point t) { sentAt_ = t; }
    void replied(Clock::time_point t);
    void failed() { sentAt_.reset(); } // a time-out says nothing about the path's delay
    // The mean since the last call, then starts over; nullopt when no reply came.
    std::optional<std::chrono::microseconds> take();

private:
    std::optional<Clock::time_point> sentAt_;
    Clock::duration sum_{};
    unsigned count_ = 0;
};
// "Round trip: 3.4 ms", with the desktop's decimal separator.
std::string roundTripText(std::chrono::microseconds mean);

// How long to wait before reconnect attempt n (0, 1, ...): doubling from a quarter second to 4 s.
std::chrono::milliseconds reconnectDelay(unsigned attempt);

// Opens a TCP connection within `bound`, or until `cancelFd` turns readable. The descriptor
// (non-blocking, TCP_NODELAY, keep-alive) or -1 with err filled.
int connectTcp(const NetAddress& address, std::chrono::milliseconds bound, OpenError* err, int cancelFd = -1);

} // namespace mb::port
