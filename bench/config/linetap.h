#pragma once
// An independent witness on the line: a thread that relays between the responder's device and a
// pseudo-terminal of its own (the configurator opens that one) and notes when each request's first
// character and each reply's last character pass. What happens between the two is the configurator's
// share of the cycle; what happens from a request to its reply is the responder's.
#include "sim/ptyloop.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vx::bench {

struct TapCycle {
    double request = 0;  // first character of the request seen, seconds on the monotonic clock
    double replyEnd = 0; // last character of its reply passed on to the configurator
};

class LineTap {
public:
    explicit LineTap(const std::string& responderDevice);
    ~LineTap();
    LineTap(const LineTap&) = delete;
    LineTap& operator=(const LineTap&) = delete;

    bool ok() const { return sim_ >= 0 && pty_.master >= 0 && stop_ >= 0; }
    // The device the configurator opens.
    const std::string& path() const { return pty_.path; }
    // The cycles completed so far; clear() starts a new count.
    std::vector<TapCycle> cycles();
    void clear();
    // CPU time the relay thread has used, to be taken off the process's figure.
    double cpuSeconds() const;

private:
    void run();

    sim::Pty pty_;
    int sim_ = -1;
    int stop_ = -1;
    std::mutex mutex_;
    std::vector<TapCycle> cycles_;
    std::thread thread_;
};

} // namespace vx::bench
