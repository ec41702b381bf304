#include "link/commthread.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

// State reached by queued hand-overs. It lives as long as the last of them, so a hand-over that runs
// after the thread object is gone still finds valid memory (and, disconnected, does nothing). Only the
// GUI thread touches the callbacks and the flag; the receive thread only uses the descriptor.
struct TCommThread::Shared {
    int doneFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    bool connected = false;
    ReceiveCallback onReceive;
    LostCallback onLost;
    ~Shared() {
        if (doneFd >= 0) ::close(doneFd);
    }
};

TCommThread::TCommThread(mb::port::ByteChannel& channel, QObject* gui)
    : shared_(std::make_shared<Shared>()), channel_(channel), gui_(gui),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    setObjectName(QStringLiteral("TCommThread"));
}

TCommThread::~TCommThread() {
    stop();
    if (stopFd_ >= 0) ::close(stopFd_);
}

void TCommThread::connectCallbacks(ReceiveCallback onReceive, LostCallback onLost) {
    // The callbacks are kept until the shared state dies, so one that closes the port while it runs
    // does not destroy itself; disconnecting only lowers the flag.
    shared_->onReceive = std::move(onReceive);
    shared_->onLost = std::move(onLost);
    shared_->connected = true;
}

void TCommThread::disconnectCallbacks() {
    shared_->connected = false;
}

void TCommThread::stop() {
    disconnectCallbacks();
    if (stopFd_ >= 0) ::eventfd_write(stopFd_, 1);
    wait();
}

namespace {

enum class Wake { First, Stop };

// Waits without time limit until fd shows `events` or the stop event is signalled.
Wake waitFor(int fd, short events, int stopFd, short* revents) {
    for (;;) {
        pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
        const int n = ::poll(p, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || p[0].revents != 0 || stopFd < 0) return Wake::Stop;
        if (p[1].revents != 0) {
            *revents = p[1].revents;
            return Wake::First;
        }
    }
}

} // namespace

void TCommThread::run() {
    const std::shared_ptr<Shared> shared = shared_; // the thread object may die first in GUI code
    std::vector<std::uint8_t> buf(4096);
    short revents = 0;
    for (;;) {
        if (waitFor(channel_.fd(), POLLIN, stopFd_, &revents) == Wake::Stop) return;
        const mb::port::ReadResult r = channel_.read(buf);
        // A hang-up or error that leaves nothing to read would wake the poll forever: that is a loss too.
        const bool dead = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && r.count == 0;
        if (r.lost || dead) {
            const int error = r.error;
            QMetaObject::invokeMethod(
                gui_,
                [shared, error] {
                    if (shared->connected && shared->onLost) shared->onLost(error);
                },
                Qt::QueuedConnection);
            return;
        }
        if (r.count == 0) continue;
        auto batch = std::make_shared<const std::vector<std::uint8_t>>(buf.begin(), buf.begin() + r.count);
        QMetaObject::invokeMethod(
            gui_,
            [shared, batch] {
                if (shared->connected && shared->onReceive) shared->onReceive(*batch);
                ::eventfd_write(shared->doneFd, 1);
            },
            Qt::QueuedConnection);
        if (waitFor(shared->doneFd, POLLIN, stopFd_, &revents) == Wake::Stop) return;
        eventfd_t v;
        ::eventfd_read(shared->doneFd, &v);
    }
}
