#include "link/mb.h"
#include "link/plaintext.h"

#include "link/mbpanel.h"
#include "link/netaddressprompt.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace {

const QColor kOrange(249, 124, 0);
const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kNoticeBad(160, 0, 0);
const QColor kNoticeGood(0, 110, 0);

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

} // namespace

TMB::TMB(QWidget* parent) : QGroupBox(parent) {
    auto makeTimer = [this] {
        auto* t = new QTimer(this);
        t->setTimerType(Qt::PreciseTimer);
        t->setSingleShot(true);
        return t;
    };
    txLampTimer_ = makeTimer();
    rxLampTimer_ = makeTimer();
    connect(txLampTimer_, &QTimer::timeout, this, [this] { setBackground(txLamp_, buttonFace(this)); });
    connect(rxLampTimer_, &QTimer::timeout, this, [this] { setBackground(rxLamp_, buttonFace(this)); });

    buildPanel();
    bindSession();
    engine_.OnMBMasterEndOfEvent = [this](mb::TMBStatus s, const std::string& text) {
        if (OnMBMasterEndOfEvent) OnMBMasterEndOfEvent(s, text);
    };
    setTitle(qs(engine_.caption()));
    attempt_->setVisible(engine_.attemptIndicatorVisible());
    txCounter_->setText(qs(engine_.txCounterText()));
    rxCounter_->setText(qs(engine_.rxCounterText()));
}

TMB::~TMB() = default;

// ---------------------------------------------------------------------------------------------------
// Building and binding

void TMB::buildPanel() {
    setFixedSize(153, 145);
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    setFont(f);

    auto label = [this](const char* name, const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText); // paths and adapter names are never markup
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
    addressAction_ = installAddressPrompt(*this, portList_);
    portList_->setAccessibleName(QStringLiteral("Serial ports"));

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

    refreshButton_ = new QPushButton(QStringLiteral("Refresh"), this);
    refreshButton_->setObjectName(QStringLiteral("Button_Refresh"));
    refreshButton_->setGeometry(97, 81, 49, 19);
    refreshButton_->setEnabled(false);
    refreshButton_->setAutoDefault(true);

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

    // Added below the panel's own face, shown only while there is something to say.
    notice_ = label("Label_PortNotice", QString(), 6, 145, 141, 0);
    // Broken into lines here, at spaces only: the label's own wrapping would split a port's name.
    notice_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice_->hide();

    lastStatus_->setText(qs(engine_.lastStatusLine()));
    showStatusLamp();
}

void TMB::bindSession() {
    TPortSession* s = &session_;
    // The user's controls ask the session; everything they show comes back from it.
    connect(openButton_, &QPushButton::clicked, this, [s](bool down) { down ? s->open() : s->close(); });
    connect(refreshButton_, &QPushButton::clicked, this, [s] { s->refreshPortList(); });
    connect(baudBox_, &QComboBox::activated, this,
            [this](int index) { setMBBaud(static_cast<mb::TMBBaud>(index)); });
    // An entry chosen with the mouse or the arrow keys is remembered; a rebuild chooses on its own.
    connect(portList_, &QListWidget::itemClicked, this,
            [this, s](QListWidgetItem* item) { s->choose(portList_->row(item)); });
    connect(portList_, &QListWidget::currentRowChanged, this, [s](int row) { s->choose(row); });

    connect(s, &TPortSession::stateChanged, this, &TMB::showLifeState);
    connect(s, &TPortSession::openCloseFinished, this, [this](bool changed) {
        attempt_->setVisible(engine_.attemptIndicatorVisible());
        // The rate in use, also when the port opens before the panel's deferred set-up.
        if (MBPortOpen()) showBaud();
        if (changed && OnMBPortOpenedOrClosed) OnMBPortOpenedOrClosed(MBPortOpen());
    });
    connect(s, &TPortSession::portListChanged, this, &TMB::showPortList);
    connect(s, &TPortSession::chosenRowChanged, this, &TMB::showChosenRow);
    connect(s, &TPortSession::refreshing, this, [this](bool active) {
        if (!active) {
            QApplication::restoreOverrideCursor();
            return;
        }
        QFont normal = refreshButton_->font();
        normal.setBold(false);
        refreshButton_->setFont(normal);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    });
    connect(s, &TPortSession::portLampChanged, this, &TMB::showPortLamp);
    connect(s, &TPortSession::noticeChanged, this, &TMB::showNotice);
    connect(s, &TPortSession::setUpDue, this, &TMB::deferredSetUp);
    connect(s, &TPortSession::baudChanged, this, &TMB::showBaud);

    connect(s, &TPortSession::txFlashed, this, [this] { flash(txLamp_, txLampTimer_, txLitAt_); });
    connect(s, &TPortSession::rxFlashed, this, [this] { flash(rxLamp_, rxLampTimer_, rxLitAt_); });
    connect(s, &TPortSession::txLampCleared, this, [this] {
        txLampTimer_->stop();
        setBackground(txLamp_, buttonFace(this));
    });
    connect(s, &TPortSession::lampsCleared, this, &TMB::lampsOff);
    connect(s, &TPortSession::statusChanged, this, [this] {
        lastStatus_->setText(qs(engine_.lastStatusLine()));
        showStatusLamp();
    });
    connect(s, &TPortSession::attemptChanged, this, [this](int n) {
        attempt_->setText(QString::number(n));
        attempt_->move(138 + n, attempt_->y());
    });
    connect(s, &TPortSession::countersUpdated, this, [this] {
        txCounter_->setText(qs(engine_.txCounterText()));
        rxCounter_->setText(qs(engine_.rxCounterText()));
    });
    connect(s, &TPortSession::speedUpdated, this, [this] { speed_->setText(qs(engine_.speedText())); });
    connect(s, &TPortSession::modeUpdated, this, [this] {
        setTitle(qs(engine_.caption()));
        attempt_->setVisible(engine_.attemptIndicatorVisible());
    });
}

void TMB::deferredSetUp() {
    baudBox_->clear();
    for (int i = 0; i < mb::kBaudCount; ++i)
        baudBox_->addItem(qs(mb::baudText(static_cast<mb::TMBBaud>(i))));
    setMBBaud(MBBaud());
    // The session builds the list itself when it is to; otherwise the bold Refresh asks the user to.
    if (!MBRefreshListOnStartup()) {
        QFont bold = refreshButton_->font();
        bold.setBold(true);
        refreshButton_->setFont(bold);
    }
    refreshButton_->setEnabled(!MBPortOpen());
    baudBox_->setEnabled(!MBPortOpen());
}

// ---------------------------------------------------------------------------------------------------
// What the session shows

void TMB::setMBBaud(mb::TMBBaud b) {
    session_.setBaud(b);
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

void TMB::showLifeState() {
    // The button stays down from Open until the user (or a loss that cannot wait) closes; the list and
    // the rate are locked all that time, waiting for a lost port included.
    const bool engaged = session_.state() != TPortSession::State::Closed;
    openButton_->setChecked(engaged);
    openButton_->setText(engaged ? QStringLiteral("Close") : QStringLiteral("Open"));
    // Waiting for a lost port, Refresh looks whether it is back (where no watch tells of its return).
    refreshButton_->setEnabled(!engaged || session_.state() == TPortSession::State::LostWaiting);
    portList_->setEnabled(!engaged);
    baudBox_->setEnabled(!engaged);
}

void TMB::showPortList() {
    const QSignalBlocker quiet(portList_);
    portList_->clear();
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    for (const mb::port::PortEntry& e : session_.portEntries()) {
        auto* item = new QListWidgetItem(qs(mb::port::shortName(e.info)), portList_);
        item->setToolTip(mb::plainToolTip(qs(mb::port::describePort(e))));
        if (!e.usable()) item->setForeground(grey);
    }
    if (session_.chosenRow() >= 0) portList_->setCurrentRow(session_.chosenRow());
    openButton_->setEnabled(portList_->count() > 0);
}

void TMB::showChosenRow(int row) {
    if (portList_->currentRow() == row) return;
    const QSignalBlocker quiet(portList_);
    portList_->setCurrentRow(row);
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

void TMB::showPortLamp() {
    const QString tip = session_.portLampTip();
    switch (session_.portLamp()) {
    case TPortSession::PortLamp::Off:
        portLamp_->setBrushColor(buttonFace(this));
        describe(portLamp_, QStringLiteral("closed"));
        break;
    case TPortSession::PortLamp::Open:
        portLamp_->setBrushColor(kGreen);
        describe(portLamp_, QStringLiteral("open"));
        break;
    case TPortSession::PortLamp::Failed:
        portLamp_->setBrushColor(kRed);
        describe(portLamp_, QStringLiteral("failed: ") + tip);
        break;
    }
    portLamp_->setToolTip(mb::plainToolTip(tip));
}

void TMB::showNotice() {
    const TPortSession::Notice& n = session_.notice();
    QPalette p = notice_->palette();
    p.setColor(QPalette::WindowText, n.good ? kNoticeGood : kNoticeBad);
    notice_->setPalette(p);
    const QFontMetrics metrics = notice_->fontMetrics();
    const int spacing = metrics.lineSpacing();
    const bool below = noticeArea_.isEmpty();
    // Right below the panel it grows by up to three lines; in its own area it takes the lines there are.
    const int width = below ? 141 : noticeArea_.width();
    const int maxLines = below ? 3 : std::max(1, noticeArea_.height() / spacing);
    const QStringList lines = mb::noticeLines(n.text, metrics, width, maxLines);
    const QString shown = lines.join(QLatin1Char('\n'));
    notice_->setText(shown);
    // What was cut short is read in full from the tooltip.
    const bool whole = lines.join(QLatin1Char(' ')) == n.text.simplified();
    notice_->setToolTip(
        mb::plainToolTip(whole || n.tip == n.text ? n.tip : n.text + QLatin1Char('\n') + n.tip));
    const int h = lines.isEmpty() ? 0 : static_cast<int>(lines.size()) * spacing;
    if (below) {
        notice_->setGeometry(6, 145, width, h);
    } else {
        notice_->setGeometry(noticeArea_.x(), noticeArea_.y(), width, h);
        notice_->raise();
    }
    notice_->setVisible(!lines.isEmpty());
    setFixedSize(153, 145 + (below && h > 0 ? h + 8 : 0));
}

void TMB::setNoticeArea(const QRect& area) {
    if (area == noticeArea_ || !parentWidget()) return;
    noticeArea_ = area;
    notice_->setParent(area.isEmpty() ? static_cast<QWidget*>(this) : parentWidget());
    showNotice();
}

QStringList mb::noticeLines(const QString& text, const QFontMetrics& metrics, int width, int maxLines) {
    QStringList lines;
    QString line;
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString word = metrics.elidedText(words[i], Qt::ElideMiddle, width);
        const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (line.isEmpty() || metrics.horizontalAdvance(joined) <= width) {
            line = joined;
            continue;
        }
        if (lines.size() + 1 == maxLines) {
            // The last line there is: the rest of the text, cut at its end.
            const QString rest = QStringList(words.mid(i)).join(QLatin1Char(' '));
            lines << metrics.elidedText(line + QLatin1Char(' ') + rest, Qt::ElideRight, width);
            return lines;
        }
        lines << line;
        line = word;
    }
    if (!line.isEmpty() && maxLines > 0) lines << line;
    return lines;
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

void TMB::lampsOff() {
    txLampTimer_->stop();
    setBackground(txLamp_, buttonFace(this));
    rxLampTimer_->stop();
    setBackground(rxLamp_, buttonFace(this));
    showStatusLamp();
}
