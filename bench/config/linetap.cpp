#include "linetap.h"

#include <chrono>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vx::bench {

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The last character of a frame carries the end flag on its high character.
bool endsFrame(std::uint8_t c) {
    return (c & 0x60) == 0x60;
}

} // namespace

LineTap::LineTap(const std::string& responderDevice) {
    std::string error;
    if (!sim::openPty(&pty_, &error)) return;
    sim_ = sim::openSerial(responderDevice);
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (ok()) thread_ = std::thread([this] { run(); });
}

LineTap::~LineTap() {
    if (thread_.joinable()) {
        ::eventfd_write(stop_, 1);
        thread_.join();
    }
    if (sim_ >= 0) ::close(sim_);
    if (stop_ >= 0) ::close(stop_);
    sim::closePty(&pty_);
}

std::vector<TapCycle> LineTap::cycles() {
    std::lock_guard lock(mutex_);
    return cycles_;
}

void LineTap::clear() {
    std::lock_guard lock(mutex_);
    cycles_.clear();
}

double LineTap::cpuSeconds() const {
    clockid_t id;
    timespec ts{};
    if (!thread_.joinable() ||
        pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &id) != 0 ||
        clock_gettime(id, &ts) != 0)
        return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void LineTap::run() {
    std::uint8_t buf[4096];
    bool inRequest = false;
    TapCycle current;
    for (;;) {
        pollfd p[3] = {{stop_, POLLIN, 0}, {pty_.master, POLLIN, 0}, {sim_, POLLIN, 0}};
        if (::poll(p, 3, -1) < 0) continue;
        if (p[0].revents) return;
        if (p[1].revents & POLLIN) {
            const ssize_t n = ::read(pty_.master, buf, sizeof buf);
            if (n > 0) {
                if (!inRequest) {
                    current.request = now();
                    inRequest = true;
                }
                sim::writeAll(sim_, buf, static_cast<std::size_t>(n));
            }
        }
        if (p[2].revents & POLLIN) {
            const ssize_t n = ::read(sim_, buf, sizeof buf);
            if (n > 0) {
                sim::writeAll(pty_.master, buf, static_cast<std::size_t>(n));
                if (inRequest && endsFrame(buf[n - 1])) {
                    current.replyEnd = now();
                    inRequest = false;
                    std::lock_guard lock(mutex_);
                    cycles_.push_back(current);
                }
            }
        } else if (p[2].revents & (POLLHUP | POLLERR)) {
            return; // the responder is gone
        }
    }
}

} // namespace vx::bench
