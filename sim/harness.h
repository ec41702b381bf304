#pragma once
// Driving a running vx2207-sim from outside, as the configurator would: start the process and read
// its device path, and a master link with a poll loop on that device. For tests and benchmarks.
#include "instrument/exchange.h"
#include "sim/ptyloop.h"
#include "sim/unit.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace mb::port {
class ByteChannel;
}

namespace vx::sim {

class SimProcess {
public:
    // Starts the simulator with the arguments; waits (bounded) for the device path on its stdout. Another
    // program (simulator false) gets no simulator options and is waited for longer: any first line will do.
    SimProcess(const std::string& binary, const std::vector<std::string>& args, bool simulator = true);
    ~SimProcess(); // always stops the process
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return !path_.empty(); }
    const std::string& devicePath() const { return path_; }
    pid_t pid() const { return pid_; }
    // SIGTERM, then waits (bounded); returns the exit status, or -1 if it had to be killed.
    int stop();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};

// One master transaction's outcome.
struct Outcome {
    mb::TMBStatus status = mb::stClosedPort;
    std::string text;
    std::vector<std::uint8_t> data; // the reply's data bytes
    instrument::Reply reply;        // decoded from data
    std::chrono::microseconds elapsed{0};
    bool ended = false;
};

// The bench around a running simulator: one line (without its newline) to its --control FIFO, and
// the --meter file's latest reading. False when the FIFO cannot take it or the file is not a reading.
bool sendControl(const std::string& fifo, const std::string& line);
bool readMeter(const std::string& file, OutputLevel* out);

class Master : public LoopHost {
public:
    explicit Master(const std::string& device);
    // Over a channel the caller opened and keeps (a network port, for instance).
    explicit Master(mb::port::ByteChannel& channel);
    ~Master() override;
    bool isOpen() const { return fd_ >= 0; }

    // Sends one request with the command and data, after delayMs as the poll cycle does, and runs the
    // loop until the transaction ends (or `bound` passes; then ended is false). elapsed counts from
    // the call, so it includes the delay.
    Outcome transact(std::uint8_t command, const std::vector<std::uint8_t>& data,
                     std::chrono::milliseconds bound = std::chrono::milliseconds(3000),
                     std::uint16_t delayMs = 0);
    Outcome exchange(const instrument::Request& request,
                     std::chrono::milliseconds bound = std::chrono::milliseconds(3000),
                     std::uint16_t delayMs = 0);
    // Keeps serving the line for a while, collecting further end events (late replies).
    std::vector<Outcome> listen(std::chrono::milliseconds duration);

protected:
    bool readInput() override;
    bool deliver(const std::uint8_t* data, std::size_t size) override;

private:
    void prepare();
    mb::port::ByteChannel* channel_ = nullptr;
    std::vector<Outcome> ends_;
};

} // namespace vx::sim
