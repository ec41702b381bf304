#include "link/mb.h"

#include "common/pictureformat.h"
#include "link/commthread.h"
#include "link/mbpanel.h"
#include "link/netaddressprompt.h"
#include "link/netreconnect.h"
#include "link/portdiscovery.h"
#include "link/portwatch.h"
#include "link/precisetimer.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

const QColor kOrange(249, 124, 0);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kNoticeBad(160, 0, 0);
const QColor kNoticeGood(0, 110, 0);

// The port list's rows carry the path to open and the name the port is remembered by.
constexpr int kPathRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;
constexpr int kReconnectedShownMs = 5000;

QColor buttonFace(const QWidget* w) {
    return w->palette().color(QPalette::Button);
}

void setBackground(QLabel* l, const QColor& c) {
    // A lamp flashes for every byte written; only a real change is worth a palette (and a repaint).
    if (l->palette().color(QPalette::Window) == c) return;
    QPalette p = l->palette();
    p.setColor(QPalette::Window, c);
    l->setPalette(p);
}

// The lamps' state in words for assistive tools; set only on a change, as the lamps follow every reply.
void describe(QWidget* w, const QString& text) {
    if (w->accessibleDescription() != text) w->setAccessibleDescription(text);
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QString lossText(const QString& name) {
    return name + QStringLiteral(" was lost: unplugged, or the far end closed.");
}

} // namespace

TMB::TMB(QWidget* parent) : QGroupBox(parent) {
    serial_.options.simulator =
        mb::port::findSimulator(QCoreApplication::applicationDirPath().toStdString(), std::getenv("PATH"));
    netReconnect_ = new TNetReconnect([this] { return waitingFor_; }, [this] { portsChanged(); }, this);
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
    txLampTimer_ = makeTimer(true);
    rxLampTimer_ = makeTimer(true);
    connect(timeOutTimer_, &TPreciseTimer::timeout, this, [this] {
        inputAt_ = timeOutTimer_->deadline();
        engine_.timerExpired(mb::LinkTimer::TimeOut);
        inputAt_.reset();
    });
    connect(delayedSendTimer_, &TPreciseTimer::timeout, this,
            [this] { engine_.timerExpired(mb::LinkTimer::DelayedSend); });
    connect(statisticsTimer_, &QTimer::timeout, this, [this] {
        if (engine_.statisticsTick()) deferredSetUp();
    });
    connect(txLampTimer_, &QTimer::timeout, this, [this] { setBackground(txLamp_, buttonFace(this)); });
    connect(rxLampTimer_, &QTimer::timeout, this, [this] { setBackground(rxLamp_, buttonFace(this)); });
    noticeTimer_ = makeTimer(true);
    connect(noticeTimer_, &QTimer::timeout, this, &TMB::showNotice);
    watch_ = new TPortWatch(this);
    connect(watch_, &TPortWatch::changed, this, &TMB::portsChanged);

    buildPanel();
    engine_.OnMBMasterEndOfEvent = [this](mb::TMBStatus s, const std::string& text) {
        if (OnMBMasterEndOfEvent) OnMBMasterEndOfEvent(s, text);
    };
    modeChanged();
    countersChanged();
    statisticsTimer_->start(1000);
}

TMB::~TMB() {
    // Destruction only stops the link; no events are raised from a dying component.
    stopLink();
}

// ---------------------------------------------------------------------------------------------------
// Panel

void TMB::buildPanel() {
    setFixedSize(153, 145);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    setFont(f);

    auto label = [this](const char* name, const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(x, y, w, h);
        return l;
    };
    txLamp_ = label("Label_Tx", QStringLiteral("Tx"), 6, 13, 13, 13);
    rxLamp_ = label("Label_Rx", QStringLiteral("Rx"), 6, 26, 13, 13);
    for (QLabel* l : {txLamp_, rxLamp_}) {
        l->setAutoFillBackground(true);
        l->setAlignment(Qt::AlignCenter);
        setBackground(l, buttonFace(this));
    }
    txCounter_ = label("Label_TxCounter", QString(), 20, 13, 110, 13);
    rxCounter_ = label("Label_RxCounter", QString(), 20, 26, 110, 13);
    txCounter_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    rxCounter_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    statusLamp_ = new TMBShape(this);
    statusLamp_->setObjectName(QStringLiteral("Shape_Status"));
    statusLamp_->setGeometry(133, 13, 17, 15);
    statusLamp_->setCursor(Qt::PointingHandCursor);
    statusLamp_->setToolTip(QStringLiteral("Reset counters"));
    statusLamp_->onClick = [this] { engine_.resetStatistics(); };
    // Also from the keyboard: Tab to it, Space or Enter.
    statusLamp_->setFocusPolicy(Qt::TabFocus);
    statusLamp_->setAccessibleName(QStringLiteral("Link status (reset counters)"));

    attempt_ = new TMBClickLabel(QStringLiteral("1"), this);
    attempt_->setObjectName(QStringLiteral("Label_Attempt"));
    attempt_->setGeometry(139, 13, 8, 8);
    QFont small = f;
    small.setPixelSize(8);
    attempt_->setFont(small);
    attempt_->setCursor(Qt::PointingHandCursor);
    attempt_->setToolTip(QStringLiteral("Reset counters"));
    attempt_->onClick = [this] { engine_.resetStatistics(); };
    attempt_->hide();

    speed_ = label("Label_Speed", QStringLiteral("0"), 5, 40, 143, 15); // grows to the right as the text does

    portList_ = new QListWidget(this);
    portList_->setObjectName(QStringLiteral("ListBox_Ports"));
    portList_->setGeometry(5, 56, 84, 44);
    QFont listFont = f;
    listFont.setPointSize(8);
    portList_->setFont(listFont);
    portList_->setUniformItemSizes(true);
    installAddressPrompt(*this, portList_);
    portList_->setAccessibleName(QStringLiteral("Serial ports"));
    // An entry chosen with the mouse or the arrow keys is remembered; a rebuild chooses on its own.
    connect(portList_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { lastUsedPort_ = item->data(kNameRole).toString(); });
    connect(portList_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item) lastUsedPort_ = item->data(kNameRole).toString();
        showNotice();
    });

    portLamp_ = new TMBShape(this);
    portLamp_->setObjectName(QStringLiteral("Shape_Port"));
    portLamp_->setGeometry(97, 56, 49, 21);
    portLamp_->setAccessibleName(QStringLiteral("Port"));
    portLamp_->setAccessibleDescription(QStringLiteral("closed"));

    openButton_ = new QPushButton(QStringLiteral("Open"), this);
    openButton_->setObjectName(QStringLiteral("SpeedButton_Open"));
    openButton_->setGeometry(99, 58, 45, 17);
    openButton_->setCheckable(true);
    openButton_->setEnabled(false);
    openButton_->setAutoDefault(true); // Enter works as Space does
    connect(openButton_, &QPushButton::clicked, this, &TMB::openClicked);

    refreshButton_ = new QPushButton(QStringLiteral("Refresh"), this);
    refreshButton_->setObjectName(QStringLiteral("Button_Refresh"));
    refreshButton_->setGeometry(97, 81, 49, 19);
    refreshButton_->setEnabled(false);
    refreshButton_->setAutoDefault(true);
    connect(refreshButton_, &QPushButton::clicked, this, &TMB::MBRefreshPortList);

    lastStatus_ = label("Label_LastStatus", QString(), 6, 103, 143, 15);
    bitsPerSecond_ = label("Label_BitsPerSecond", QString(), 5, 120, 143, 15);
    bitsPerSecond_->setAlignment(Qt::AlignCenter);
    // These change with the traffic. On the panel's plain face an opaque label looks the same as a
    // transparent one and spares the group box a repaint beneath it on every frame; a fixed size spares
    // a layout request for every new text.
    for (QLabel* l : {txCounter_, rxCounter_, speed_, lastStatus_, bitsPerSecond_}) {
        l->setAutoFillBackground(true);
        l->setFixedSize(l->size());
        l->setTextFormat(Qt::PlainText);
    }

    baudBox_ = new QComboBox(this);
    baudBox_->setObjectName(QStringLiteral("ComboBox_Baud"));
    baudBox_->setGeometry(5, 119, 144, 25);
    baudBox_->setEnabled(false);
    baudBox_->setAccessibleName(QStringLiteral("Baud rate"));
    connect(baudBox_, &QComboBox::activated, this,
            [this](int index) { setMBBaud(static_cast<mb::TMBBaud>(index)); });

    // Added below the panel's own face, shown only while there is something to say.
    notice_ = label("Label_PortNotice", QString(), 6, 145, 141, 0);
    notice_->setWordWrap(true);
    notice_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice_->hide();

    statusShown(engine_.MBStatus(), engine_.MBStatusString());
}

void TMB::deferredSetUp() {
    baudBox_->clear();
    for (int i = 0; i < mb::kBaudCount; ++i)
        baudBox_->addItem(qs(mb::baudText(static_cast<mb::TMBBaud>(i))));
    setMBBaud(MBBaud());
    if (refreshOnStartup_) {
        MBRefreshPortList();
    } else {
        QFont bold = refreshButton_->font();
        bold.setBold(true);
        refreshButton_->setFont(bold);
    }
    refreshButton_->setEnabled(!MBPortOpen());
    baudBox_->setEnabled(!MBPortOpen());
}

void TMB::setMBBaud(mb::TMBBaud b) {
    engine_.setMBBaud(b);
    showBaud();
}

void TMB::showBaud() {
    const int index = static_cast<int>(engine_.MBBaud());
    if (index < baudBox_->count()) baudBox_->setCurrentIndex(index);
    bitsPerSecond_->setText(qs(engine_.bitsPerSecondText()));
}

void TMB::setMBBaudEditVisible(bool v) {
    baudEditVisible_ = v;
    baudBox_->setVisible(v);
    baudBox_->update();
}

void TMB::showStatusLamp() {
    // The colour is the news; the description says it for those who do not see it.
    switch (engine_.statusLamp()) {
    case mb::LampColour::Neutral:
        statusLamp_->setBrushColor(buttonFace(this));
        describe(statusLamp_, QStringLiteral("no outcome yet"));
        break;
    case mb::LampColour::Green:
        statusLamp_->setBrushColor(kGreen);
        describe(statusLamp_, QStringLiteral("OK"));
        break;
    case mb::LampColour::Orange:
        statusLamp_->setBrushColor(kOrange);
        describe(statusLamp_, QStringLiteral("the instrument reported an error"));
        break;
    case mb::LampColour::Red:
        statusLamp_->setBrushColor(kRed);
        describe(statusLamp_, QStringLiteral("no reply, or the port is closed"));
        break;
    }
}

void TMB::setPortLamp(const QColor& c, const QString& tip) {
    portLamp_->setBrushColor(c);
    portLamp_->setToolTip(tip);
    describe(portLamp_, c == kGreen ? QStringLiteral("open")
                        : c == kRed ? QStringLiteral("failed: ") + tip
                                    : QStringLiteral("closed"));
}

// ---------------------------------------------------------------------------------------------------
// Port list, open and close

void TMB::MBRefreshPortList() {
    QFont normal = refreshButton_->font();
    normal.setBold(false);
    refreshButton_->setFont(normal);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    rebuildPortList();
    QApplication::restoreOverrideCursor();
}

void TMB::rebuildPortList() {
    using namespace mb::port;
    // Armed before looking, so nothing that changes meanwhile goes unseen.
    watchPorts();
    const std::string held = linkOpened_ ? port_.toStdString() : std::string();
    entries_ = listPorts(held, serial_);
    if (!waitingFor_.isEmpty() && findRemembered(entries_, waitingFor_.toStdString()) < 0) {
        // The lost port keeps the open port's place, greyed, until it returns.
        PortEntry lost;
        lost.info = portInfo_;
        lost.probe.error = describeOpenError(portInfo_.path, ENODEV);
        lost.probe.error.reason = lossText(port_).toStdString() + " Waiting for it to come back.";
        lost.held = true;
        entries_.push_back(std::move(lost));
    }
    const QSignalBlocker quiet(portList_);
    portList_->clear();
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    int firstUsable = -1;
    for (const PortEntry& e : entries_) {
        auto* item = new QListWidgetItem(qs(shortName(e.info)), portList_);
        item->setData(kPathRole, qs(e.info.path));
        item->setData(kNameRole, qs(rememberedName(e.info)));
        item->setToolTip(qs(describePort(e)));
        if (!e.usable()) item->setForeground(grey);
        if (e.usable() && firstUsable < 0) firstUsable = portList_->count() - 1;
    }
    // The remembered port is chosen when it is there; otherwise the first that can be opened. Either
    // way the remembered port stays as it is until the user picks or opens another.
    if (portList_->count() > 0) {
        const int remembered = findRemembered(entries_, lastUsedPort_.toStdString());
        portList_->setCurrentRow(remembered >= 0 ? remembered : std::max(firstUsable, 0));
    }
    openButton_->setEnabled(portList_->count() > 0);
    showNotice();
}

void TMB::watchPorts() {
    // Links in MB_EXTRA_PORTS may point elsewhere after every change: the watched folders follow.
    watch_->watch(mb::port::portWatchDirs(mb::port::extraPorts()));
}

void TMB::portsChanged() {
    rebuildPortList();
    if (!waitingFor_.isEmpty()) tryReconnect();
}

bool TMB::MBOpenPort(const QString& port) {
    if (!waitingFor_.isEmpty()) MBClosePort();
    if (MBPortOpen()) return port_ == port || qs(mb::port::rememberedName(portInfo_)) == port;
    // A typed network address joins the recent ones, so the list has a row for it.
    serial_.recentAddresses = mb::port::rememberAddress(serial_.recentAddresses, port.toStdString());
    if (mb::port::findRemembered(entries_, port.toStdString()) < 0) MBRefreshPortList();
    const int row = mb::port::findRemembered(entries_, port.toStdString());
    if (row < 0) return false;
    portList_->setCurrentRow(row);
    lastUsedPort_ = portList_->currentItem()->data(kNameRole).toString();
    openButton_->click();
    return MBPortOpen();
}

void TMB::MBClosePort() {
    if (!MBPortOpen() && waitingFor_.isEmpty()) return;
    openButton_->setChecked(false);
    openClicked(false);
}

void TMB::openClicked(bool down) {
    const bool wasOpen = MBPortOpen();
    if (down)
        openSequence();
    else
        closeSequence();
    afterOpenOrClose(wasOpen);
}

void TMB::openSequence() {
    refreshButton_->setEnabled(false);
    portList_->setEnabled(false);
    baudBox_->setEnabled(false);
    setPortLamp(kGreen, QString());
    mb::port::PortInfo chosen;
    chosen.path = port_.toStdString();
    if (QListWidgetItem* item = portList_->currentItem()) {
        const int row = portList_->row(item);
        chosen = entries_.at(static_cast<std::size_t>(row)).info;
        port_ = qs(chosen.path);
    }
    engine_.portOpening();
    openButton_->setText(QStringLiteral("Close"));

    mb::port::OpenError err;
    if (startLink(port_, &err)) {
        portInfo_ = chosen;
        lastUsedPort_ = qs(mb::port::rememberedName(chosen));
        portError_.clear();
        failureNotice_.clear();
        noticeTimer_->stop();
        thereWasOpenEvent_ = true;
        engine_.portOpened();
        showNotice();
        return;
    }
    // The red lamp is the failure report, with the reason in its tooltip and below the panel; no dialog.
    mb::port::ProbeResult why{err, {}};
    if (err.kind == mb::port::OpenFailure::Busy) why.holders = mb::port::portHolders(port_.toStdString());
    portError_ = qs(err.reason + (why.holders.empty() ? "" : " Held by " + why.holders + "."));
    failureNotice_ = qs(mb::port::shortReason(mb::port::deviceName(chosen.path), why));
    openButton_->setChecked(false);
    openButton_->setText(QStringLiteral("Open"));
    refreshButton_->setEnabled(true);
    portList_->setEnabled(true);
    baudBox_->setEnabled(true);
    engine_.portOpenFailed();
    setPortLamp(kRed, portError_);
    MBRefreshPortList();
}

void TMB::closeSequence() {
    refreshButton_->setEnabled(true);
    portList_->setEnabled(true);
    baudBox_->setEnabled(true);
    noticeTimer_->stop();
    if (!waitingFor_.isEmpty()) {
        stopWaiting(); // the engine closed when the port was lost
    } else {
        engine_.portClosing();
    }
    openButton_->setText(QStringLiteral("Open"));
    stopLink();
}

bool TMB::startLink(const QString& path, mb::port::OpenError* err) {
    if (!serial_.open(path.toStdString(), {engine_.baudRateValue(), queueIn_, queueOut_}, err)) return false;
    thread_ = std::make_unique<TCommThread>(serial_);
    if (const int error = thread_->setUpError()) {
        // Without its events the thread could never be stopped: no thread, no open port.
        thread_.reset();
        serial_.close();
        *err = mb::port::describeOpenError(path.toStdString(), error);
        err->reason =
            path.toStdString() + " cannot be used: the receive thread cannot start (" + err->system + ").";
        return false;
    }
    thread_->connectCallbacks([this](std::span<const std::uint8_t> b) { bytesArrived(b); },
                              [this](int error) { deviceLost(error); });
    writeNotifier_ = new QSocketNotifier(serial_.fd(), QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] {
        serial_.flush();
        writeNotifier_->setEnabled(serial_.pendingOutput() > 0);
    });
    linkOpened_ = true;
    thread_->start();
    return true;
}

void TMB::stopLink() {
    inputAt_.reset(); // a port opened again from a handler starts afresh
    if (!linkOpened_) return;
    linkOpened_ = false;
    thread_->disconnectCallbacks();
    thread_->stop(); // never waits on this thread: a pending hand-over is abandoned, not awaited
    // This may run inside the thread's own hand-over (a handler closed the port): delete it later.
    TCommThread* t = thread_.release();
    t->setParent(this);
    t->deleteLater();
    delete writeNotifier_;
    writeNotifier_ = nullptr;
    outgoing_.clear();
    serial_.close();
}

void TMB::afterOpenOrClose(bool wasOpen) {
    attempt_->setVisible(engine_.attemptIndicatorVisible());
    if (MBPortOpen() != wasOpen && OnMBPortOpenedOrClosed) OnMBPortOpenedOrClosed(MBPortOpen());
}

void TMB::bytesArrived(std::span<const std::uint8_t> bytes) {
    // The engine's closing may run a handler before the link stops; it must see no more bytes.
    if (!linkOpened_ || !engine_.MBPortOpen()) return;
    inputAt_ = thread_->batchTime();
    engine_.bytesReceived(bytes.data(), bytes.size());
    inputAt_.reset();
}

void TMB::deviceLost(int error) {
    if (!linkOpened_) return;
    const QString reason =
        port_ + QStringLiteral(" was lost: ") +
        (error ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("the device hung up")) +
        QStringLiteral(" (unplugged, or the far end closed).");
    const QString name = qs(mb::port::deviceName(portInfo_.path));
    const bool wasOpen = MBPortOpen();
    failureNotice_ = lossText(name);
    if (!mb::port::comesBackAsItself(portInfo_)) {
        // Nothing to wait for: closed as the Close button would close it; the red lamp says why.
        openButton_->setChecked(false);
        closeSequence();
        rebuildPortList();
        portError_ = reason;
        setPortLamp(kRed, reason);
        afterOpenOrClose(wasOpen);
        return;
    }
    // The engine closes as for the Close button, but the button stays down: the user still wants this
    // port, and the link reopens it when it comes back (the same by-id adapter, else the same path).
    stopLink();
    waitingFor_ = qs(mb::port::rememberedName(portInfo_));
    waitNotice_ = name + QStringLiteral(" lost: waiting for it to come back.");
    netReconnect_->begin(waitingFor_); // a network port has no device node to announce its return
    portError_ = reason;
    noticeTimer_->stop();
    engine_.portClosing(); // its handlers may press Close, which ends the wait at once
    if (!waitingFor_.isEmpty()) {
        setPortLamp(kRed, reason);
        rebuildPortList();
    }
    afterOpenOrClose(wasOpen);
}

void TMB::tryReconnect() {
    const int row = mb::port::findRemembered(entries_, waitingFor_.toStdString());
    if (row < 0 || entries_[static_cast<std::size_t>(row)].held) return; // not back yet
    const mb::port::PortEntry back = entries_[static_cast<std::size_t>(row)];
    const std::string name = mb::port::deviceName(back.info.path);
    mb::port::ProbeResult why = back.probe;
    // Back but not usable yet (udev may still be setting its permissions): the next change retries.
    if (why.error.kind == mb::port::OpenFailure::None && startLink(qs(back.info.path), &why.error)) {
        port_ = qs(back.info.path);
        portInfo_ = back.info;
        waitingFor_.clear();
        portError_.clear();
        failureNotice_.clear();
        engine_.portOpening();
        thereWasOpenEvent_ = true;
        engine_.portOpened();
        setPortLamp(kGreen, QString());
        reconnectNotice_ = QStringLiteral("Reconnected to %1 at %2.")
                               .arg(qs(name), QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        noticeTimer_->start(kReconnectedShownMs);
        rebuildPortList();
        // The poll cycle resumes as after Open.
        afterOpenOrClose(false);
        return;
    }
    waitNotice_ = QStringLiteral("Still waiting: ") + qs(mb::port::shortReason(name, why));
    portError_ = qs(why.error.reason);
    setPortLamp(kRed, portError_);
    showNotice();
}

void TMB::stopWaiting() {
    waitingFor_.clear();
    setPortLamp(buttonFace(this), QString());
    rebuildPortList();
}

void TMB::showNotice() {
    QString text, tip = portError_;
    QColor colour = kNoticeBad;
    if (!waitingFor_.isEmpty()) {
        text = waitNotice_;
    } else if (noticeTimer_->isActive()) {
        text = reconnectNotice_;
        colour = kNoticeGood;
    } else if (!MBPortOpen()) {
        text = failureNotice_;
        // Nothing failed yet, but the chosen port cannot be opened: say why before the user tries.
        const int row = portList_->currentRow();
        if (text.isEmpty() && row >= 0 && row < static_cast<int>(entries_.size()) &&
            !entries_[static_cast<std::size_t>(row)].usable()) {
            const mb::port::PortEntry& e = entries_[static_cast<std::size_t>(row)];
            text = qs(mb::port::shortReason(mb::port::deviceName(e.info.path), e.probe));
            tip = qs(e.probe.error.reason);
        }
    }
    QPalette p = notice_->palette();
    p.setColor(QPalette::WindowText, colour);
    notice_->setPalette(p);
    notice_->setText(text);
    notice_->setToolTip(text.isEmpty() || tip.isEmpty() ? text : tip);
    // The panel grows below its usual face by as many lines as the text needs (three at most).
    const int lines = notice_->fontMetrics().lineSpacing();
    const int h = text.isEmpty() ? 0 : std::min(notice_->heightForWidth(notice_->width()), 3 * lines);
    notice_->resize(notice_->width(), h);
    notice_->setVisible(!text.isEmpty());
    setFixedSize(153, 145 + (h > 0 ? h + 8 : 0));
}

// ---------------------------------------------------------------------------------------------------
// mb::LinkHost

bool TMB::write(const std::uint8_t* data, std::size_t size) {
    if (!linkOpened_) return false;
    // The engine hands a frame over two characters at a time; one system call per frame is enough.
    outgoing_.insert(outgoing_.end(), data, data + size);
    return true;
}

void TMB::writesDone() {
    if (!linkOpened_ || outgoing_.empty()) return;
    // Queued, not checked: a device that refuses bytes is gone, and the receive thread's hang-up closes
    // the link once. Failing the send here as well would end the transaction twice.
    serial_.write(outgoing_);
    outgoing_.clear();
    if (serial_.pendingOutput() > 0 && writeNotifier_) writeNotifier_->setEnabled(true);
}

void TMB::startTimer(mb::LinkTimer t, unsigned ms) {
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

void TMB::stopTimer(mb::LinkTimer t) {
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

// A lamp is flashed for every byte a frame sends, all within microseconds: it is lit and its timer
// restarted once per burst, so it goes out 100 ms after the burst rather than after its last byte.
void TMB::flash(QLabel* lamp, QTimer* timer, std::chrono::steady_clock::time_point& litAt) {
    const auto now = std::chrono::steady_clock::now();
    if (timer->isActive() && now - litAt < std::chrono::milliseconds(1)) return;
    litAt = now;
    setBackground(lamp, kOrange);
    timer->start(kFlashMs);
}

void TMB::flashTx() {
    flash(txLamp_, txLampTimer_, txLitAt_);
}

void TMB::flashRx() {
    flash(rxLamp_, rxLampTimer_, rxLitAt_);
}

void TMB::txLampOff() {
    txLampTimer_->stop();
    setBackground(txLamp_, buttonFace(this));
}

void TMB::lampsReset() {
    txLampOff();
    rxLampTimer_->stop();
    setBackground(rxLamp_, buttonFace(this));
    showStatusLamp();
    if (!MBPortOpen() && waitingFor_.isEmpty()) setPortLamp(buttonFace(this), QString());
}

void TMB::statusShown(mb::TMBStatus, const std::string&) {
    lastStatus_->setText(qs(engine_.lastStatusLine()));
    showStatusLamp();
}

void TMB::attemptShown(std::uint8_t n) {
    attempt_->setText(QString::number(n));
    attempt_->move(138 + n, attempt_->y());
}

void TMB::countersChanged() {
    txCounter_->setText(qs(engine_.txCounterText()));
    rxCounter_->setText(qs(engine_.rxCounterText()));
}

void TMB::speedChanged() {
    speed_->setText(qs(engine_.speedText()));
}

void TMB::modeChanged() {
    setTitle(qs(engine_.caption()));
    attempt_->setVisible(engine_.attemptIndicatorVisible());
}
