#include "link/commthread.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TCommThread::TCommThread(mb::port::ByteChannel& channel, QObject* parent)
    : QThread(parent), channel_(channel), stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), doneFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    setObjectName(QStringLiteral("TCommThread"));
    if (stopFd_ < 0 || wakeFd_ < 0 || doneFd_ < 0) {
        setUpError_ = errno;
        return;
    }
    wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, &TCommThread::handOver);
}

TCommThread::~TCommThread() {
    stop();
    delete wakeNotifier_;
    for (int fd : {stopFd_, wakeFd_, doneFd_})
        if (fd >= 0) ::close(fd);
}

void TCommThread::connectCallbacks(ReceiveCallback onReceive, LostCallback onLost) {
    onReceive_ = std::move(onReceive);
    onLost_ = std::move(onLost);
    connected_ = true;
}

void TCommThread::disconnectCallbacks() {
    connected_ = false;
}

void TCommThread::stop() {
    disconnectCallbacks();
    if (setUpError_ != 0) return; // never started
    wakeNotifier_->setEnabled(false);
    ::eventfd_write(stopFd_, 1);
    wait();
    std::lock_guard lock(slotMutex_);
}

void TCommThread::handOver() {
    eventfd_t v;
    if (::eventfd_read(wakeFd_, &v) != 0) return;
    std::vector<std::uint8_t> batch;
    bool lost;
    int error;
    {
        std::lock_guard lock(slotMutex_);
        batch.swap(slot_);
        batchTime_ = slotTime_;
        lost = slotLost_;
        error = slotError_;
    }
    if (!connected_) return;
    // The callbacks may close the port, which stops this thread: copies keep them alive meanwhile.
    const QPointer<TCommThread> self(this);
    if (!batch.empty()) {
        const ReceiveCallback receive = onReceive_;
        receive(batch);
    }
    if (!self) return;
    if (lost) {
        const LostCallback onLost = onLost_;
        if (connected_ && onLost) onLost(error);
        return;
    }
    if (self) ::eventfd_write(doneFd_, 1);
}

namespace {

enum class Wake { Ready, Stop, Failed };

// Waits without time limit until fd shows `events` or the stop event is signalled; Failed, with the
// errno in *error, when the wait itself fails.
Wake waitFor(int fd, short events, int stopFd, short* revents, int* error) {
    for (;;) {
        pollfd p[2] = {{stopFd, POLLIN, 0}, {fd, events, 0}};
        const int n = ::poll(p, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            return Wake::Failed;
        }
        if (p[0].revents != 0) return Wake::Stop;
        if (p[1].revents != 0) {
            *revents = p[1].revents;
            return Wake::Ready;
        }
    }
}

} // namespace

void TCommThread::run() {
    // The thread's very last act takes the slot mutex, and stop() takes it after wait(): the end of the
    // thread then visibly precedes whatever the GUI thread does next (QThread::wait() synchronises on
    // futexes that ThreadSanitizer cannot see).
    struct LastAct {
        std::mutex& m;
        ~LastAct() { std::lock_guard lock(m); }
    } lastAct{slotMutex_};
    std::vector<std::uint8_t> buf(4096);
    short revents = 0;
    int error = 0;
    // A wait that fails would end the loop without a word, leaving the port "open" with every
    // transaction timing out: the GUI thread hears of it as a lost device, behind any batch still
    // waiting in the slot.
    const auto waitFailed = [&] {
        {
            std::lock_guard lock(slotMutex_);
            slotLost_ = true;
            slotError_ = error;
        }
        ::eventfd_write(wakeFd_, 1);
    };
    for (;;) {
        Wake w = waitFor(channel_.fd(), POLLIN, stopFd_, &revents, &error);
        if (w == Wake::Failed) return waitFailed();
        if (w == Wake::Stop) return;
        const mb::port::ReadResult r = channel_.read(buf);
        const auto readAt = std::chrono::steady_clock::now();
        // A hang-up or error that leaves nothing to read would wake the poll forever: that is a loss too.
        const bool lost = r.lost || ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && r.count == 0);
        if (!lost && r.count == 0) continue;
        {
            std::lock_guard lock(slotMutex_);
            slot_.assign(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(r.count));
            slotTime_ = readAt;
            slotLost_ = lost;
            slotError_ = r.error;
        }
        ::eventfd_write(wakeFd_, 1);
        if (lost) return; // nothing more will come; the GUI thread closes the link
        w = waitFor(doneFd_, POLLIN, stopFd_, &revents, &error);
        if (w == Wake::Failed) return waitFailed();
        if (w == Wake::Stop) return;
        eventfd_t v;
        ::eventfd_read(doneFd_, &v);
    }
}
