#include "link/mb.h"

#include "common/pictureformat.h"
#include "link/commthread.h"
#include "link/mbpanel.h"
#include "link/portdiscovery.h"
#include "link/precisetimer.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTimer>

#include <cstring>

namespace {

const QColor kOrange(249, 124, 0);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

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

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TMB::TMB(QWidget* parent) : QGroupBox(parent) {
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
    // An entry chosen with the mouse or the arrow keys is remembered; a rebuild chooses on its own.
    connect(portList_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { lastUsedPort_ = item->text(); });
    connect(portList_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item) lastUsedPort_ = item->text();
    });

    portLamp_ = new TMBShape(this);
    portLamp_->setObjectName(QStringLiteral("Shape_Port"));
    portLamp_->setGeometry(97, 56, 49, 21);

    openButton_ = new QPushButton(QStringLiteral("Open"), this);
    openButton_->setObjectName(QStringLiteral("SpeedButton_Open"));
    openButton_->setGeometry(99, 58, 45, 17);
    openButton_->setCheckable(true);
    openButton_->setEnabled(false);
    connect(openButton_, &QPushButton::clicked, this, &TMB::openClicked);

    refreshButton_ = new QPushButton(QStringLiteral("Refresh"), this);
    refreshButton_->setObjectName(QStringLiteral("Button_Refresh"));
    refreshButton_->setGeometry(97, 81, 49, 19);
    refreshButton_->setEnabled(false);
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
    connect(baudBox_, &QComboBox::activated, this,
            [this](int index) { setMBBaud(static_cast<mb::TMBBaud>(index)); });

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
    switch (engine_.statusLamp()) {
    case mb::LampColour::Neutral:
        statusLamp_->setBrushColor(buttonFace(this));
        break;
    case mb::LampColour::Green:
        statusLamp_->setBrushColor(kGreen);
        break;
    case mb::LampColour::Orange:
        statusLamp_->setBrushColor(kOrange);
        break;
    case mb::LampColour::Red:
        statusLamp_->setBrushColor(kRed);
        break;
    }
}

void TMB::setPortLamp(const QColor& c, const QString& tip) {
    portLamp_->setBrushColor(c);
    portLamp_->setToolTip(tip);
}

// ---------------------------------------------------------------------------------------------------
// Port list, open and close

void TMB::MBRefreshPortList() {
    QFont normal = refreshButton_->font();
    normal.setBold(false);
    refreshButton_->setFont(normal);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::string open = MBPortOpen() ? port_.toStdString() : std::string();
    const auto list = mb::port::buildPortList(
        mb::port::candidatePorts(), [](const std::string& p) { return mb::port::probePort(p); }, open);
    const QSignalBlocker quiet(portList_);
    portList_->clear();
    for (const std::string& p : list)
        portList_->addItem(qs(p));
    if (portList_->count() > 0) {
        portList_->setCurrentRow(0);
        const auto same = portList_->findItems(lastUsedPort_, Qt::MatchExactly);
        if (!same.isEmpty()) portList_->setCurrentItem(same.first());
        lastUsedPort_ = portList_->currentItem()->text();
    }
    openButton_->setEnabled(portList_->count() > 0);
    QApplication::restoreOverrideCursor();
}

bool TMB::MBOpenPort(const QString& port) {
    if (MBPortOpen()) return port_ == port;
    if (portList_->findItems(port, Qt::MatchExactly).isEmpty()) MBRefreshPortList();
    const auto items = portList_->findItems(port, Qt::MatchExactly);
    if (items.isEmpty()) return false;
    portList_->setCurrentItem(items.first());
    lastUsedPort_ = port;
    openButton_->click();
    return MBPortOpen();
}

void TMB::MBClosePort() {
    if (!MBPortOpen()) return;
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
    if (QListWidgetItem* item = portList_->currentItem()) port_ = item->text();
    engine_.portOpening();
    openButton_->setText(QStringLiteral("Close"));

    mb::port::OpenError err;
    const bool ok = serial_.open(port_.toStdString(), {engine_.baudRateValue(), queueIn_, queueOut_}, &err);
    if (ok) {
        thread_ = std::make_unique<TCommThread>(serial_);
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
        portError_.clear();
        thereWasOpenEvent_ = true;
        engine_.portOpened();
        return;
    }
    // The red lamp is the failure report; the reason waits in its tooltip, no dialog.
    portError_ = qs(err.reason);
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
    engine_.portClosing();
    openButton_->setText(QStringLiteral("Open"));
    stopLink();
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
    // Closed as the Close button would close it; the red lamp and its tooltip say why.
    const QString reason =
        port_ + QStringLiteral(" was lost: ") +
        (error ? QString::fromLocal8Bit(std::strerror(error)) : QStringLiteral("the device hung up")) +
        QStringLiteral(" (unplugged, or the far end closed).");
    const bool wasOpen = MBPortOpen();
    openButton_->setChecked(false);
    closeSequence();
    // The lost device leaves the list, but it is still the engineer's port: it stays the remembered one,
    // preselected again once it is back and saved so at exit.
    const QString remembered = lastUsedPort_;
    MBRefreshPortList();
    lastUsedPort_ = remembered;
    portError_ = reason;
    setPortLamp(kRed, reason);
    afterOpenOrClose(wasOpen);
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
    if (!MBPortOpen()) setPortLamp(buttonFace(this), QString());
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
