#include "link/portsession.h"
#include "link/porthelp.h"

#include "link/commthread.h"
#include "link/holderscan.h"
#include "link/logging.h"
#include "link/netreconnect.h"
#include "link/portwatch.h"
#include "link/precisetimer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kReconnectedShownMs = 5000;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Characters on the line for the trace, as hex pairs.
QByteArray hex(const std::uint8_t* data, std::size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size))
        .toHex(' ');
}

QString lossText(const QString& name) {
    return name + QStringLiteral(" was lost: unplugged, or the far end closed.");
}

} // namespace

TPortSession::TPortSession(QObject* parent) : QObject(parent) {
    serial_.options.simulator =
        mb::port::findSimulator(QCoreApplication::applicationDirPath().toStdString(), std::getenv("PATH"));
    netReconnect_ = new TNetReconnect([this] { return waitingForPort(); }, [this] { portsChanged(); }, this);
    auto makeTimer = [this](bool single) {
        auto* t = new QTimer(this);
        // A coarse timer may fire 5% late, which would stretch every 50 ms pause and every time-out.
        t->setTimerType(Qt::PreciseTimer);
        t->setSingleShot(single);
        return t;
    };
    // The pause and the time-out set the poll cycle's pace: armed to the nanosecond.
    timeOutTimer_ = new TPreciseTimer(this);
    delayedSendTimer_ = new TPreciseTimer(this);
    statisticsTimer_ = makeTimer(false);
    noticeTimer_ = makeTimer(true);
    connect(timeOutTimer_, &TPreciseTimer::timeout, this, [this] {
        inputAt_ = timeOutTimer_->deadline();
        engine_.timerExpired(mb::LinkTimer::TimeOut);
        inputAt_.reset();
    });
    connect(delayedSendTimer_, &TPreciseTimer::timeout, this,
            [this] { engine_.timerExpired(mb::LinkTimer::DelayedSend); });
    connect(statisticsTimer_, &QTimer::timeout, this, [this] {
        if (const auto mean = roundTrip_.take(); mean && onNetwork() && engine_.MBPortOpen()) {
            roundTripText_ = qs(mb::port::roundTripText(*mean));
            updateNotice();
        }
        if (!engine_.statisticsTick()) return;
        emit setUpDue();
        if (refreshOnStartup_) refreshPortList();
    });
    connect(noticeTimer_, &QTimer::timeout, this, &TPortSession::updateNotice);
    watch_ = new TPortWatch(this);
    connect(watch_, &TPortWatch::changed, this, &TPortSession::portsChanged);
    holderScan_ = new THolderScan(this);
    holderScan_->onFound = [this](const std::map<std::string, std::string>& holders) {
        mb::port::addHolders(entries_, holders);
        emit portListChanged();
    };
    statisticsTimer_->start(1000);
}

TPortSession::~TPortSession() {
    // Destruction only stops the link; no events are raised from a dying session.
    dropPendingOpen();
    stopLink();
}

bool TPortSession::advance(mb::port::LifeEvent event) {
    const std::optional<State> next = mb::port::nextLifeState(state_, event);
    if (!next) {
        qCDebug(lcPort, "%s ignored while %s", mb::port::lifeEventName(event),
                mb::port::lifeStateName(state_));
        return false;
    }
    qCDebug(lcPort, "%s: %s -> %s", mb::port::lifeEventName(event), mb::port::lifeStateName(state_),
            mb::port::lifeStateName(*next));
    const bool changed = *next != state_;
    state_ = *next;
    if (changed) emit stateChanged(state_);
    return true;
}

void TPortSession::setBaud(mb::TMBBaud b) {
    engine_.setMBBaud(b);
    emit baudChanged();
}

void TPortSession::setPortLamp(PortLamp lamp, const QString& tip) {
    portLamp_ = lamp;
    portLampTip_ = tip;
    emit portLampChanged();
}

// ---------------------------------------------------------------------------------------------------
// Port list

void TPortSession::choose(int row) {
    if (row >= 0 && row < static_cast<int>(entries_.size())) {
        chosen_ = row;
        lastUsedPort_ = qs(mb::port::rememberedName(entries_[static_cast<std::size_t>(row)].info));
        emit chosenRowChanged(row);
    }
    updateNotice();
}

void TPortSession::refreshPortList() {
    emit refreshing(true);
    rebuildPortList();
    emit refreshing(false);
    // While a lost port is waited for, a refresh also looks whether it is back (where no watch says so).
    if (state_ == State::LostWaiting) tryReconnect();
}

bool TPortSession::scanningHolders() const {
    return holderScan_->busy();
}

void TPortSession::rebuildPortList() {
    using namespace mb::port;
    // Armed before looking, so nothing that changes meanwhile goes unseen. Links in MB_EXTRA_PORTS may
    // point elsewhere after every change: the watched folders follow. Where nothing can be watched, a
    // lost port is looked for by a slow poll.
    watch_->watch(portWatchDirs(extraPorts()), waiting());
    const std::string held = linkOpened() ? port_.toStdString() : std::string();
    // Who holds a busy port comes from one scan of /proc for the whole list, off this thread.
    entries_ = listPorts(held, serial_);
    holderScan_->start(busyPaths(entries_));
    if (waiting() && findRemembered(entries_, waitingFor_.toStdString()) < 0) {
        // The lost port keeps the open port's place, greyed, until it returns.
        PortEntry lostEntry;
        lostEntry.info = portInfo_;
        lostEntry.probe.error = describeOpenError(portInfo_.path, ENODEV);
        lostEntry.probe.error.reason = lossText(port_).toStdString() + " Waiting for it to come back.";
        lostEntry.held = true;
        entries_.push_back(std::move(lostEntry));
    }
    // The remembered port is chosen when it is there; otherwise the first that can be opened. Either
    // way the remembered port stays as it is until the user picks or opens another.
    chosen_ = -1;
    if (!entries_.empty()) {
        const auto usable =
            std::find_if(entries_.begin(), entries_.end(), [](const PortEntry& e) { return e.usable(); });
        const int firstUsable = usable == entries_.end() ? 0 : static_cast<int>(usable - entries_.begin());
        const int remembered = findRemembered(entries_, lastUsedPort_.toStdString());
        chosen_ = remembered >= 0 ? remembered : firstUsable;
    }
    emit portListChanged();
    updateNotice();
}

void TPortSession::portsChanged() {
    rebuildPortList();
    qCDebug(lcPort, "ports changed: %zu listed", entries_.size());
    if (state_ == State::LostWaiting) tryReconnect();
}

// ---------------------------------------------------------------------------------------------------
// Open and close

bool TPortSession::openPort(const QString& port) {
    if (!beginOpenPort(port)) return false;
    if (pendingOpen_) {
        pendingOpen_->wait();
        connectFinished();
    }
    return engine_.MBPortOpen();
}

bool TPortSession::beginOpenPort(const QString& port) {
    if (waiting()) close();
    if (engine_.MBPortOpen() || state_ == State::Opening)
        return port_ == port || qs(mb::port::rememberedName(portInfo_)) == port;
    // A typed network address joins the recent ones, so the list has a row for it.
    serial_.recentAddresses = mb::port::rememberAddress(serial_.recentAddresses, port.toStdString());
    if (mb::port::findRemembered(entries_, port.toStdString()) < 0) refreshPortList();
    const int row = mb::port::findRemembered(entries_, port.toStdString());
    if (row < 0) return false;
    choose(row);
    open();
    return engine_.MBPortOpen() || state_ == State::Opening;
}

bool TPortSession::openPath(const QString& path) {
    if (waiting()) close();
    if (engine_.MBPortOpen()) return port_ == path;
    chosen_ = -1; // open() takes port_ itself when no entry is chosen
    port_ = path;
    open();
    return engine_.MBPortOpen();
}

void TPortSession::open() {
    const bool wasOpen = engine_.MBPortOpen();
    if (!advance(mb::port::LifeEvent::OpenAsked)) return;
    setPortLamp(PortLamp::Open, QString());
    mb::port::PortInfo chosen;
    chosen.path = port_.toStdString();
    if (chosen_ >= 0 && chosen_ < static_cast<int>(entries_.size())) {
        chosen = entries_[static_cast<std::size_t>(chosen_)].info;
        port_ = qs(chosen.path);
    }
    qCDebug(lcPort, "opening %s at %u bit/s", qUtf8Printable(port_), unsigned{engine_.baudRateValue()});
    if (onNetwork()) {
        portError_.clear(); // what failed before was another attempt
        failureNotice_.clear();
        startPendingOpen(chosen);
        return;
    }
    engine_.portOpening();
    mb::port::OpenError err;
    const bool ok = startLink(port_, &err);
    openFinished(chosen, wasOpen, ok ? nullptr : &err);
}

// An address that never answers, or a server that takes the connection but never agrees the line
// settings, would hold the window for the whole bound: the open runs off this thread, and the engine
// opens only once there is a channel to run on. The state (opening, reconnecting) stays meanwhile.
void TPortSession::startPendingOpen(const mb::port::PortInfo& info) {
    pendingInfo_ = info;
    pendingOpen_ = std::make_unique<mb::port::PendingOpen>(
        info.path, mb::port::LineSettings{engine_.baudRateValue(), queueIn_, queueOut_}, serial_.options);
    if (pendingOpen_->readyFd() >= 0) {
        pendingNotifier_ = new QSocketNotifier(pendingOpen_->readyFd(), QSocketNotifier::Read, this);
        connect(pendingNotifier_, &QSocketNotifier::activated, this, &TPortSession::connectFinished);
    }
    updateNotice();
    if (!pendingNotifier_) { // no descriptor to watch: wait for it here
        pendingOpen_->wait();
        connectFinished();
    }
}

void TPortSession::connectFinished() {
    if (!pendingOpen_ || !pendingOpen_->done()) return;
    mb::port::OpenError err;
    std::unique_ptr<mb::port::FdChannel> channel = pendingOpen_->take(&err);
    dropPendingOpen();
    // Closed meanwhile: the channel closes with this scope.
    if (state_ != State::Opening && state_ != State::Reconnecting) return;
    const bool reconnecting = state_ == State::Reconnecting;
    if (!reconnecting) engine_.portOpening();
    bool ok = channel != nullptr;
    if (ok) {
        serial_.adopt(pendingInfo_.path, std::move(channel));
        ok = startThread(qs(pendingInfo_.path), &err);
    }
    if (reconnecting) {
        const mb::port::ProbeResult why{err, {}};
        reconnectFinished(pendingInfo_, ok ? nullptr : &why);
        return;
    }
    openFinished(pendingInfo_, false, ok ? nullptr : &err);
}

void TPortSession::dropPendingOpen() {
    if (pendingNotifier_) {
        // This may run in the notifier's own signal: unregistered now, deleted later.
        pendingNotifier_->setEnabled(false);
        pendingNotifier_->deleteLater();
        pendingNotifier_ = nullptr;
    }
    pendingOpen_.reset(); // cancels a connect still under way
}

void TPortSession::openFinished(const mb::port::PortInfo& chosen, bool wasOpen,
                                const mb::port::OpenError* failed) {
    if (!failed) {
        portInfo_ = chosen;
        lastUsedPort_ = qs(mb::port::rememberedName(chosen));
        portError_.clear();
        failureNotice_.clear();
        noticeTimer_->stop();
        thereWasOpenEvent_ = true;
        advance(mb::port::LifeEvent::Opened);
        engine_.portOpened();
        updateNotice();
        finish(wasOpen, &TPortSession::opened);
        return;
    }
    // The red lamp is the failure report, with the reason in its tooltip and below the panel; no dialog.
    const mb::port::OpenError& err = *failed;
    mb::port::ProbeResult why{err, {}};
    if (err.kind == mb::port::OpenFailure::Busy) why.holders = mb::port::portHolders(port_.toStdString());
    portError_ = qs(err.reason + (why.holders.empty() ? "" : " Held by " + why.holders + "."));
    // A network failure's reason names the address and says what happened in one sentence already.
    failureNotice_ =
        onNetwork() ? portError_ : qs(mb::port::shortReason(mb::port::deviceName(chosen.path), why));
    qCDebug(lcPort, "%s", qUtf8Printable(portError_));
    advance(mb::port::LifeEvent::OpenFailed);
    engine_.portOpenFailed();
    setPortLamp(PortLamp::Failed, portError_);
    refreshPortList();
    finish(wasOpen, nullptr);
}

void TPortSession::close() {
    if (closeHold_ && !closeHeld_ && state_ == State::Open) {
        closeHeld_ = true;
        QPointer<TPortSession> self(this);
        if (closeHold_([self] {
                if (self && self->closeHeld_) self->close();
            })) {
            emit stateChanged(state_); // the panel's button, released by the click, shows the port open
            return;
        }
    }
    closeHeld_ = false;
    const bool wasOpen = engine_.MBPortOpen();
    const bool wasWaiting = waiting();
    const bool connecting = pendingOpen_ != nullptr;
    if (!advance(mb::port::LifeEvent::CloseAsked)) return;
    if (connecting) dropPendingOpen(); // whatever it still opens is dropped, never handed over
    if (connecting && !wasWaiting) {
        // The engine never opened: only the connect is given up.
        setPortLamp(PortLamp::Off, QString());
        updateNotice();
    } else {
        closeSequence(wasWaiting);
    }
    finish(wasOpen, &TPortSession::closed);
}

void TPortSession::closeSequence(bool wasWaiting) {
    noticeTimer_->stop();
    if (wasWaiting)
        stopWaiting(); // the engine closed when the port was lost
    else
        engine_.portClosing();
    stopLink();
}

void TPortSession::finish(bool wasOpen, void (TPortSession::*outcome)()) {
    if (outcome) (this->*outcome)();
    emit openCloseFinished(engine_.MBPortOpen() != wasOpen);
}

bool TPortSession::startLink(const QString& path, mb::port::OpenError* err) {
    return serial_.open(path.toStdString(), {engine_.baudRateValue(), queueIn_, queueOut_}, err) &&
           startThread(path, err);
}

bool TPortSession::startThread(const QString& path, mb::port::OpenError* err) {
    auto thread = std::make_unique<TCommThread>(serial_);
    if (const int error = thread->setUpError()) {
        // Without its events the thread could never be stopped: no thread, no open port.
        thread.reset();
        serial_.close();
        *err = mb::port::describeOpenError(path.toStdString(), error);
        err->reason =
            path.toStdString() + " cannot be used: the receive thread cannot start (" + err->system + ").";
        return false;
    }
    thread->connectCallbacks([this](std::span<const std::uint8_t> b) { bytesArrived(b); },
                             [this](int error) { deviceLost(error); });
    writeNotifier_ = new QSocketNotifier(serial_.fd(), QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] {
        serial_.flush();
        writeNotifier_->setEnabled(serial_.pendingOutput() > 0);
    });
    thread_ = std::move(thread);
    thread_->start();
    return true;
}

void TPortSession::stopLink() {
    roundTrip_ = {};
    roundTripText_.clear();
    inputAt_.reset(); // a port opened again from a handler starts afresh
    if (!linkOpened()) return;
    TCommThread* t = thread_.release();
    t->disconnectCallbacks();
    t->stop(); // never waits on this thread: a pending hand-over is abandoned, not awaited
    // This may run inside the thread's own hand-over (a handler closed the port): delete it later.
    t->setParent(this);
    t->deleteLater();
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    outgoing_.clear();
    serial_.close();
}

void TPortSession::bytesArrived(std::span<const std::uint8_t> bytes) {
    // The engine's closing may run a handler before the link stops; it must see no more bytes.
    if (!linkOpened() || !engine_.MBPortOpen()) return;
    inputAt_ = thread_->batchTime();
    qCDebug(lcLink, "received %zu characters: %s", bytes.size(), hex(bytes.data(), bytes.size()).constData());
    engine_.bytesReceived(bytes.data(), bytes.size());
    inputAt_.reset();
}

// ---------------------------------------------------------------------------------------------------
// Loss and reconnection

void TPortSession::deviceLost(int error) {
    if (!linkOpened()) return;
    const QString reason =
        port_ + QStringLiteral(" was lost: ") +
        (error ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("the device hung up")) +
        QStringLiteral(" (unplugged, or the far end closed).");
    const QString name = qs(mb::port::deviceName(portInfo_.path));
    const bool wasOpen = engine_.MBPortOpen();
    failureNotice_ = lossText(name);
    qCDebug(lcPort, "%s", qUtf8Printable(reason));
    if (!mb::port::comesBackAsItself(portInfo_)) {
        // Nothing to wait for: closed as the Close button would close it; the red lamp says why.
        if (!advance(mb::port::LifeEvent::DeviceGone)) return;
        closeSequence(false);
        rebuildPortList();
        portError_ = reason;
        setPortLamp(PortLamp::Failed, reason);
        finish(wasOpen, &TPortSession::lost);
        return;
    }
    // The engine closes as for the Close button, but the session stays with the port: the user still
    // wants it, and the link reopens it when it comes back (the same by-id adapter, else the same path).
    if (!advance(mb::port::LifeEvent::DeviceLost)) return;
    stopLink();
    waitingFor_ = qs(mb::port::rememberedName(portInfo_));
    waitNotice_ = name + QStringLiteral(" lost: waiting for it to come back.");
    netReconnect_->begin(waitingFor_); // a network port has no device node to announce its return
    portError_ = reason;
    noticeTimer_->stop();
    engine_.portClosing(); // its handlers may close, which ends the wait at once
    if (state_ == State::LostWaiting) {
        setPortLamp(PortLamp::Failed, reason);
        rebuildPortList();
    }
    finish(wasOpen, &TPortSession::lost);
}

void TPortSession::tryReconnect() {
    const int row = mb::port::findSameDevice(entries_, portInfo_);
    if (row < 0 || entries_[static_cast<std::size_t>(row)].held) return; // not back yet
    if (!advance(mb::port::LifeEvent::PortAppeared)) return;
    const mb::port::PortEntry back = entries_[static_cast<std::size_t>(row)];
    qCDebug(lcPort, "reopening %s", back.info.path.c_str());
    // A server that accepts connections again may still be slow to agree the line: off this thread.
    if (mb::port::isNetworkAddress(back.info.path)) {
        startPendingOpen(back.info);
        return;
    }
    mb::port::ProbeResult why = back.probe;
    // Back but not usable yet (udev may still be setting its permissions): the next change retries.
    const bool ok =
        why.error.kind == mb::port::OpenFailure::None && startLink(qs(back.info.path), &why.error);
    reconnectFinished(back.info, ok ? nullptr : &why);
}

void TPortSession::reconnectFinished(const mb::port::PortInfo& back, const mb::port::ProbeResult* failed) {
    const std::string name = mb::port::deviceName(back.path);
    if (!failed) {
        port_ = qs(back.path);
        portInfo_ = back;
        portError_.clear();
        failureNotice_.clear();
        advance(mb::port::LifeEvent::Opened);
        engine_.portOpening();
        thereWasOpenEvent_ = true;
        engine_.portOpened();
        setPortLamp(PortLamp::Open, QString());
        reconnectNotice_ = QStringLiteral("Reconnected to %1 at %2.")
                               .arg(qs(name), QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        noticeTimer_->start(kReconnectedShownMs);
        rebuildPortList();
        // The poll cycle resumes as after Open.
        finish(false, &TPortSession::reconnected);
        return;
    }
    advance(mb::port::LifeEvent::OpenFailed);
    waitNotice_ = QStringLiteral("Still waiting: ") + qs(mb::port::shortReason(name, *failed));
    portError_ = qs(failed->error.reason);
    qCDebug(lcPort, "not yet: %s", qUtf8Printable(portError_));
    setPortLamp(PortLamp::Failed, portError_);
    updateNotice();
}

void TPortSession::stopWaiting() {
    waitingFor_.clear();
    setPortLamp(PortLamp::Off, QString());
    rebuildPortList();
}

void TPortSession::updateNotice() {
    Notice n;
    n.tip = portError_;
    if (pendingOpen_) {
        n.text = QStringLiteral("Connecting to %1…").arg(port_);
        n.good = true;
    } else if (waiting()) {
        n.text = waitNotice_;
    } else if (noticeTimer_->isActive()) {
        n.text = reconnectNotice_;
        n.good = true;
    } else if (!engine_.MBPortOpen()) {
        n.text = failureNotice_;
        // Nothing failed yet, but the chosen port cannot be opened: say why before the user tries.
        if (n.text.isEmpty() && chosen_ >= 0 && chosen_ < static_cast<int>(entries_.size()) &&
            !entries_[static_cast<std::size_t>(chosen_)].usable()) {
            const mb::port::PortEntry& e = entries_[static_cast<std::size_t>(chosen_)];
            n.text = qs(mb::port::shortReason(mb::port::deviceName(e.info.path), e.probe));
            n.tip = qs(e.probe.error.reason);
        }
        // Not one port that opens: say what to do rather than leave two greyed buttons.
        const auto opens = [](const mb::port::PortEntry& e) { return e.usable(); };
        if (n.text.isEmpty() && std::none_of(entries_.begin(), entries_.end(), opens)) {
            n.text = qs(mb::port::noPortNotice());
            n.tip = qs(mb::port::noPortHelp());
        }
    } else if (onNetwork()) {
        n.text = roundTripText_;
        n.good = true;
    }
    if (n.text.isEmpty() || n.tip.isEmpty()) n.tip = n.text;
    notice_ = n;
    emit noticeChanged();
}

// ---------------------------------------------------------------------------------------------------
// mb::LinkHost

bool TPortSession::write(const std::uint8_t* data, std::size_t size) {
    if (!linkOpened()) return false;
    // The engine hands a frame over two characters at a time; one system call per frame is enough.
    outgoing_.insert(outgoing_.end(), data, data + size);
    return true;
}

void TPortSession::writesDone() {
    if (!linkOpened() || outgoing_.empty()) return;
    // Queued, not checked: a device that refuses bytes is gone, and the receive thread's hang-up closes
    // the link once. Failing the send here as well would end the transaction twice.
    qCDebug(lcLink, "sent %zu characters: %s", outgoing_.size(),
            hex(outgoing_.data(), outgoing_.size()).constData());
    // Taken before the write: on a fast path the reply is read before write() has even returned here.
    roundTrip_.sent(std::chrono::steady_clock::now());
    serial_.write(outgoing_);
    outgoing_.clear();
    if (serial_.pendingOutput() > 0 && writeNotifier_) writeNotifier_->setEnabled(true);
}

void TPortSession::startTimer(mb::LinkTimer t, unsigned ms) {
    const int interval = static_cast<int>(std::min(ms, 0x7fffffffu));
    switch (t) {
    case mb::LinkTimer::TimeOut:
        timeOutTimer_->start(interval);
        break;
    case mb::LinkTimer::DelayedSend:
        // The poll cycle's pause runs from the end of the transaction: the reply's last character taken
        // in or the last time-out due. Past already (a slow display), the request goes at once, still
        // only one.
        if (inputAt_)
            delayedSendTimer_->startAt(*inputAt_ + std::chrono::milliseconds(interval));
        else
            delayedSendTimer_->start(interval);
        break;
    case mb::LinkTimer::Statistics:
        statisticsTimer_->start(interval);
        break;
    }
}

void TPortSession::stopTimer(mb::LinkTimer t) {
    switch (t) {
    case mb::LinkTimer::TimeOut:
        timeOutTimer_->stop();
        break;
    case mb::LinkTimer::DelayedSend:
        delayedSendTimer_->stop();
        break;
    case mb::LinkTimer::Statistics:
        statisticsTimer_->stop();
        break;
    }
}

void TPortSession::statusShown(mb::TMBStatus status, const std::string& text) {
    if (status == mb::stOK)
        roundTrip_.replied(inputAt_.value_or(std::chrono::steady_clock::now()));
    else
        roundTrip_.failed();
    qCDebug(lcLink, "outcome: %s, attempt %u", text.c_str(), unsigned{engine_.MBMasterTryNumber()});
    emit statusChanged();
}

void TPortSession::lampsReset() {
    emit lampsCleared();
    if (!engine_.MBPortOpen() && !waiting()) setPortLamp(PortLamp::Off, QString());
}
