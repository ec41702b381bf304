#include "link/precisetimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

TPreciseTimer::TPreciseTimer(QObject* parent) : QObject(parent) {
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &TPreciseTimer::expired);
    } else {
        fallback_ = new QTimer(this);
        fallback_->setSingleShot(true);
        fallback_->setTimerType(Qt::PreciseTimer);
        connect(fallback_, &QTimer::timeout, this, &TPreciseTimer::expired);
    }
}

TPreciseTimer::~TPreciseTimer() {
    delete notifier_;
    if (fd_ >= 0) ::close(fd_);
}

void TPreciseTimer::start(int ms) {
    interval_ = ms < 0 ? 0 : ms;
    active_ = true;
    if (!notifier_) { // no timerfd: Qt's own timer, whole milliseconds
        fallback_->start(interval_);
        return;
    }
    itimerspec when{};
    when.it_value.tv_sec = interval_ / 1000;
    when.it_value.tv_nsec = static_cast<long>(interval_ % 1000) * 1000000L;
    if (interval_ == 0) when.it_value.tv_nsec = 1; // 0 would disarm it
    ::timerfd_settime(fd_, 0, &when, nullptr);
}

void TPreciseTimer::stop() {
    active_ = false;
    if (!notifier_) {
        fallback_->stop();
        return;
    }
    const itimerspec off{}; // disarms it and forgets an expiry not yet read
    ::timerfd_settime(fd_, 0, &off, nullptr);
}

void TPreciseTimer::expired() {
    if (notifier_) {
        // Re-arming or stopping resets the count, so an expiry overtaken by either reads nothing.
        std::uint64_t expirations = 0;
        if (::read(fd_, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations)) return;
    }
    if (!active_) return;
    active_ = false;
    emit timeout();
}
