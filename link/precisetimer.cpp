#include "link/precisetimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
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
    deadline_ = Clock::now() + std::chrono::milliseconds(interval_);
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

void TPreciseTimer::startAt(Clock::time_point deadline) {
    const auto now = Clock::now();
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(std::max(deadline - now, Clock::duration{}));
    interval_ = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 0x7fffffff));
    active_ = true;
    deadline_ = deadline;
    if (!notifier_) {
        fallback_->start(interval_);
        return;
    }
    // An absolute time on the same clock: a deadline already past expires at once.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    if (ns <= 0) when.it_value.tv_nsec = 1; // 0 would disarm it
    ::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void TPreciseTimer::stop() {
    // Only marked stopped: an expiry the kernel still delivers finds it inactive and fires nothing, and
    // the next start re-arms it anyway. The reply time-out stops on every reply and starts again 50 ms
    // later; disarming it in between would cost a system call per cycle for nothing.
    active_ = false;
    if (!notifier_) fallback_->stop();
}

void TPreciseTimer::expired() {
    if (notifier_) {
        // Re-arming resets the count, so an expiry it overtook reads nothing.
        std::uint64_t expirations = 0;
        if (::read(fd_, &expirations, sizeof expirations) != static_cast<ssize_t>(sizeof expirations)) return;
    }
    if (!active_) return;
    active_ = false;
    emit timeout();
}
