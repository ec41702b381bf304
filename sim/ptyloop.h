#pragma once
// Running the link engine on a file descriptor without Qt: a pseudo-terminal pair, and a LinkHost
// whose timers are deadlines that a poll loop serves. Used by the simulator, and by the tests and
// benchmarks that talk to it as the configurator's master would.
#include "link/core/linkengine.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vx::sim {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    int slave = -1; // kept open by us, so the master side never sees a hang-up between users
    std::string path;
};
// Creates a pseudo-terminal with a raw (binary, no echo) line. False with *error set on failure.
bool openPty(Pty* pty, std::string* error);
void closePty(Pty* pty);
// Raw 8N1 line, no echo, no translation: the link's characters pass unchanged.
bool setRawLine(int fd);
// Opens a serial device as the configurator would: read-write, non-blocking, raw. -1 on failure.
int openSerial(const std::string& path);

class LoopHost : public mb::LinkHost {
public:
    explicit LoopHost(int fd) : fd_(fd) {}
    mb::LinkEngine engine{*this};

    bool write(const std::uint8_t* data, std::size_t size) override;
    void startTimer(mb::LinkTimer t, unsigned ms) override;
    void stopTimer(mb::LinkTimer t) override;

    // The earliest running timer, if any.
    std::optional<Clock::time_point> nextDeadline() const;
    // Fires every timer due at now.
    void fireDueTimers(Clock::time_point now);
    // Reads what the descriptor holds and hands it to the engine. False on a read error other than
    // "nothing there" (EIO from a pty master without a peer included).
    virtual bool readInput();
    // Waits until input arrives, a timer or extraDeadline falls due, then serves them; at most until
    // `until`. Returns false when `until` passed.
    bool runOnce(Clock::time_point until, std::optional<Clock::time_point> extraDeadline = {});
    // Also waits for input on fd (-1: none); extraReadable() serves it.
    void watch(int fd) { watched_ = fd; }
    // Serves another descriptor from now on (a new connection); -1 for none.
    void setFd(int fd) {
        fd_ = fd;
        inputGone_ = false;
    }
    // The far end closed or the descriptor failed: nothing more will come on it.
    bool inputGone() const { return inputGone_; }
    // Further descriptors to wait on; alsoReadable(fd) serves each.
    void watchAlso(std::vector<int> fds) { also_ = std::move(fds); }

    int fd() const { return fd_; }
    std::uint64_t bytesWritten() const { return written_; }

protected:
    // Where the engine's writes go; the simulator routes them through its fault injection.
    virtual bool deliver(const std::uint8_t* data, std::size_t size);
    // Received bytes; by default straight into the engine.
    virtual void received(const std::uint8_t* data, std::size_t size);
    // Called after every batch of input or timer the engine handled.
    virtual void afterEngine() {}
    // The watched descriptor has input (or was hung up).
    virtual void extraReadable() {}
    virtual void alsoReadable(int) {}

    int fd_;

private:
    std::array<std::optional<Clock::time_point>, 3> deadlines_{};
    int watched_ = -1;
    bool inputGone_ = false;
    std::vector<int> also_;
    std::uint64_t written_ = 0;
};

// Writes all bytes to a non-blocking descriptor, waiting briefly while it is full. False when the
// descriptor fails or stays full (nobody reading) for longer than a moment.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size);

} // namespace vx::sim
