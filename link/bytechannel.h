#pragma once
// Every transport of the link (a serial tty, a pseudo-terminal master, an in-memory pair in tests)
// is a byte channel over one file descriptor: the receive thread waits on the descriptor and reads,
// the GUI thread writes. Writes never block: what the device does not take at once is kept and
// flushed when the descriptor turns writable.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mb::port {

struct ReadResult {
    std::size_t count = 0; // bytes placed in the buffer
    bool lost = false;     // the device is gone (hang-up, I/O error or end of file)
    int error = 0;         // errno behind a loss, 0 for a plain hang-up
};

class ByteChannel {
public:
    virtual ~ByteChannel() = default;
    ByteChannel() = default;
    ByteChannel(const ByteChannel&) = delete;
    ByteChannel& operator=(const ByteChannel&) = delete;

    // The descriptor to poll; -1 when closed.
    virtual int fd() const = 0;
    // Reads what is waiting without blocking (receive thread only).
    virtual ReadResult read(std::span<std::uint8_t> buf) = 0;
    // Queues bytes for sending without blocking (GUI thread only). False when the channel is closed
    // or the device refused them for good.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Bytes accepted by write() that the device has not taken yet.
    virtual std::size_t pendingOutput() const = 0;
    // Hands kept bytes to the device; call when fd() is writable.
    virtual void flush() = 0;
    // Closes the descriptor (GUI thread, after the receive thread has ended).
    virtual void close() = 0;
};

// A channel over a descriptor it owns (non-blocking). The serial port and the test pairs build on it.
class FdChannel : public ByteChannel {
public:
    explicit FdChannel(int fd = -1) : fd_(fd) {}
    ~FdChannel() override { FdChannel::close(); }

    int fd() const override { return fd_; }
    ReadResult read(std::span<std::uint8_t> buf) override;
    bool write(std::span<const std::uint8_t> bytes) override;
    std::size_t pendingOutput() const override { return pending_.size(); }
    void flush() override;
    void close() override;

    // Takes ownership of a non-blocking descriptor, closing the one held before.
    void adopt(int fd);

private:
    int fd_ = -1;
    bool broken_ = false;
    std::vector<std::uint8_t> pending_;
};

// Connects two channels to each other in memory (a socket pair), for tests and benchmarks.
bool makeSocketPair(FdChannel& a, FdChannel& b);

} // namespace mb::port
