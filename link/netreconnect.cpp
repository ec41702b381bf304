#include "link/netreconnect.h"

#include <QTimer>

namespace {
// A connect that has not been answered in this time counts as no answer, as the open's bound does.
constexpr auto kProbeBound = std::chrono::seconds(3);
constexpr int kLookAgainMs = 50;
} // namespace

TNetReconnect::TNetReconnect(std::function<QString()> waitingFor, std::function<void()> back, QObject* parent)
    : QObject(parent), waitingFor_(std::move(waitingFor)), back_(std::move(back)), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &TNetReconnect::tick);
}

void TNetReconnect::begin(const QString& name) {
    const auto address = mb::port::parseNetAddress(name.toStdString());
    if (!address) return;
    name_ = name;
    address_ = *address;
    attempt_ = 0;
    pending_ = false;
    probe_.reset();
    timer_->start(std::chrono::duration_cast<std::chrono::milliseconds>(mb::port::reconnectDelay(0)));
}

bool TNetReconnect::active() const {
    return timer_->isActive();
}

void TNetReconnect::tick() {
    using State = mb::port::ConnectProbe::State;
    if (waitingFor_() != name_) { // closed meanwhile, or back already
        probe_.reset();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    State s;
    if (!pending_) {
        s = probe_.start(address_);
        pendingSince_ = now;
    } else {
        s = probe_.check();
    }
    pending_ = s == State::Pending && now - pendingSince_ < kProbeBound;
    if (pending_) {
        timer_->start(kLookAgainMs);
        return;
    }
    probe_.reset();
    if (s == State::Accepted) back_();
    // Still waiting (refused, no answer, or the reopen itself failed): try again later.
    if (waitingFor_() == name_) timer_->start(mb::port::reconnectDelay(attempt_++));
}
