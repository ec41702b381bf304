#include "app/tools/ToolWindows.h"

#include "app/CommandLine.h"
#include "app/texts/Texts.h"
#include "app/tools/ToolsLog.h"
#include "app/tools/TrafficWindow.h"
#include "app/tools/TrendWindow.h"
#include "app/tools/WindowPlacement.h"
#include "common/profilefile.h"
#include "instrument/codes.h"

#include <QAction>
#include <QBoxLayout>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace vx::app::tools {

namespace {

const char* const kTrendSection = "TrendWindow";
const char* const kMonitorSection = "TrafficMonitor";

std::int64_t steadyNowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

// Shown, or brought to the front when it is already open behind another window.
void bringUp(QWidget* w) {
    if (!w->isVisible()) return w->show();
    w->raise();
    w->activateWindow();
}

} // namespace

ToolWindows::ToolWindows(ToolHost& host, const QStringList& arguments)
    : QObject(host.hostWindow()), host_(host) {
    setObjectName(QStringLiteral("ToolWindows"));
    // The command line was checked at start-up; here only the file to record to is wanted.
    const CommandLine line = parseCommandLine(QStringList{QStringLiteral("vx2207-config")} + arguments);
    pendingRecord_ = line.recordFile;
    pendingRecordOverwrite_ = line.recordOverwrite;

    Action_Trend = host.toolsMenu()->addAction(QString(), this, [this] { showTrend(); });
    Action_Trend->setObjectName(QStringLiteral("Action_Trend"));
    Action_Trend->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    Action_Monitor = host.toolsMenu()->addAction(QString(), this, [this] { showMonitor(); });
    Action_Monitor->setObjectName(QStringLiteral("Action_Monitor"));
    Action_Monitor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    host.toolsMenu()->addSeparator();
    Action_Record = host.toolsMenu()->addAction(QString());
    Action_Record->setObjectName(QStringLiteral("Action_Record"));
    Action_Record->setCheckable(true);
    Action_Record->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(Action_Record, &QAction::triggered, this, &ToolWindows::recordTriggered);
    for (QAction* a : {Action_Trend, Action_Monitor, Action_Record})
        a->setShortcutContext(Qt::ApplicationShortcut);

    corner_ = new QWidget(host.toolsMenuBar());
    corner_->setObjectName(QStringLiteral("Widget_StatusArea"));
    QWidget* corner = corner_;
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 0);
    Label_Note = new QLabel(corner);
    Label_Note->setObjectName(QStringLiteral("Label_StatusNote"));
    Label_Note->setTextFormat(Qt::PlainText); // it may name a file or a port
    Label_Note->setContentsMargins(8, 0, 8, 0);
    Label_Note->hide();
    Label_Recording = new QLabel(corner);
    Label_Recording->setObjectName(QStringLiteral("Label_Recording"));
    Label_Recording->setTextFormat(Qt::PlainText); // it names the file
    Label_Recording->setContentsMargins(8, 0, 8, 0);
    Label_Recording->hide();
    cornerLayout->addWidget(Label_Note);
    cornerLayout->addWidget(Label_Recording);
    host.toolsMenuBar()->setCornerWidget(corner, Qt::TopRightCorner);

    // Whether a lost port is awaited is the port session's: follow its state, once the change it
    // belongs to is complete (the awaited name is set after the state).
    host.onPortStateChanged(this, [this] { watchLink(); });

    recordTimer_ = new QTimer(this);
    recordTimer_->setInterval(250);
    connect(recordTimer_, &QTimer::timeout, this, [this] {
        recorder_.tick(steadyNowMs());
        if (!recorder_.recording()) return recordingFailed();
        showRecordingState();
    });

    host.onReplyShown(
        this, [this] { takeReply(host_.lastReply(), QDateTime::currentMSecsSinceEpoch(), steadyNowMs()); });
    host.onLinkExchanged(this, [this](const LinkExchange& e, bool ended) { takeExchange(e, ended); });
    host.onLanguageApplied(this, [this] { applyTexts(); });
    applyTexts();
}

ToolWindows::~ToolWindows() {
    delete trendWindow_;
    delete monitorWindow_;
    recorder_.stop();
}

QString ToolWindows::inLanguage(Text key) const {
    return host_.inLanguage(key);
}

void ToolWindows::note(const QString& text) {
    lastNote_ = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
    watchLink();
}

void ToolWindows::watchLink() {
    const QString waiting = host_.waitingForPort();
    const QString text = waiting.isEmpty() ? lastNote_ : inLanguage(Text::WaitingForPort).arg(waiting);
    const QFontMetrics fm(Label_Note->font());
    Label_Note->setText(fm.elidedText(text, Qt::ElideMiddle, std::max(160, host_.hostWindow()->width() / 2)));
    Label_Note->setToolTip(text);
    Label_Note->setVisible(!text.isEmpty());
    fitCorner();
}

void ToolWindows::fitCorner() {
    const bool any = !Label_Note->isHidden() || !Label_Recording->isHidden();
    const QSize hint = corner_->sizeHint();
    if (any == !corner_->isHidden() && (!any || hint == cornerHint_)) return;
    cornerHint_ = hint;
    // The menu bar places its corner again only when the corner is shown or hidden.
    corner_->hide();
    corner_->setVisible(any);
}

void ToolWindows::applyTexts() {
    Action_Trend->setText(inLanguage(Text::ActionLiveTrend));
    Action_Monitor->setText(inLanguage(Text::ActionTrafficMonitor));
    Action_Record->setText(inLanguage(Text::ActionRecordToCsv));
    showRecordingState();
}

// ---- what the cycle hands over

void ToolWindows::takeReply(const instrument::Reply& reply, std::int64_t wallMs, std::int64_t steadyMs) {
    latest_ = measure(reply);
    // The instrument's echo of the store bit is what says the settings were written.
    if (writePending_ && (reply.AcknowledgeFlags & instrument::kCmdStoreSettings))
        note(inLanguage(Text::SettingsWritten));
    writePending_ = host_.settingsWriteDown();
    const Measurement& m = *latest_;
    trend_.add(wallMs, {static_cast<float>(m.input), static_cast<float>(m.output),
                        static_cast<float>(m.adFiltered0), static_cast<float>(m.adFiltered1)});
    if (!pendingRecord_.isEmpty()) {
        const QString path = std::exchange(pendingRecord_, QString());
        if (const QString error = startRecording(path, pendingRecordOverwrite_); !error.isEmpty())
            std::fprintf(
                stderr, "vx2207-config: cannot record to %s: %s%s\n", qPrintable(path), qPrintable(error),
                QFileInfo::exists(path) && !pendingRecordOverwrite_ ? " (--record-overwrite replaces it)"
                                                                    : "");
    }
    if (recorder_.recording()) {
        if (const std::string back = gaps_.replied(); !back.empty())
            recorder_.appendEvent(wallMs, back, steadyMs);
        recorder_.append(wallMs, m, steadyMs);
        if (!recorder_.recording()) recordingFailed();
    }
    emit replyTaken();
}

void ToolWindows::takeExchange(const LinkExchange& e, bool transactionEnded) {
    if (!trafficPaused_) traffic_.push(e);
    // A transaction that ended without a reply is a hole in the trend, not a line across it.
    if (transactionEnded && e.outcome != Outcome::Ok) {
        trend_.addGap(e.wallMs);
        if (const std::string lost = gaps_.failed(e.outcome, e.slaveError);
            !lost.empty() && recorder_.recording()) {
            recorder_.appendEvent(e.wallMs, lost, steadyNowMs());
            if (!recorder_.recording()) recordingFailed();
        }
    }
}

// ---- windows

TrendWindow* ToolWindows::showTrend() {
    if (!trendWindow_) {
        qCDebug(lcTools, "trend window opened");
        trendWindow_ = new TrendWindow(*this);
        placeWindow(trendWindow_, kTrendSection, QSize(900, 520));
        bool ok = false;
        const int span = QString::fromStdString(readProfileString(host_.settingsPath().toStdString(),
                                                                  kTrendSection, "SpanMinutes", "5"))
                             .toInt(&ok);
        if (ok) trendWindow_->setSpanMinutes(span);
    }
    bringUp(trendWindow_);
    return trendWindow_;
}

TrafficWindow* ToolWindows::showMonitor() {
    if (!monitorWindow_) {
        qCDebug(lcTools, "traffic monitor opened");
        monitorWindow_ = new TrafficWindow(*this);
        placeWindow(monitorWindow_, kMonitorSection, QSize(900, 560));
    }
    bringUp(monitorWindow_);
    return monitorWindow_;
}

void ToolWindows::closeWindows() {
    for (QWidget* w : {static_cast<QWidget*>(trendWindow_), static_cast<QWidget*>(monitorWindow_)})
        if (w) w->close();
    if (recordMessage_) recordMessage_->close();
}

std::optional<QRect> ToolWindows::storedGeometry(const char* section) const {
    const std::string path = host_.settingsPath().toStdString();
    if (path.empty()) return std::nullopt;
    const auto value = [&](const char* key) {
        return QString::fromStdString(readProfileString(path, section, key, ""));
    };
    QList<QRect> screens;
    for (const QScreen* s : QGuiApplication::screens())
        screens << s->availableGeometry();
    return restoredGeometry(value("Left"), value("Top"), value("Width"), value("Height"), screens);
}

void ToolWindows::placeWindow(QWidget* window, const char* section, QSize defaultSize) {
    if (const std::optional<QRect> r = storedGeometry(section)) {
        window->setGeometry(*r);
        return;
    }
    window->resize(defaultSize);
    if (const QScreen* s = host_.hostWindow()->screen()) {
        const QRect free = s->availableGeometry();
        window->resize(defaultSize.boundedTo(free.size()));
        window->move(free.center() - QPoint(window->width() / 2, window->height() / 2));
    }
}

void ToolWindows::saveSettings(std::vector<ProfileEntry>& entries) const {
    const auto save = [&entries](const QWidget* w, const char* section) {
        if (!w) return; // never opened: what the file holds stays
        const QRect r = w->geometry();
        entries.push_back({section, "Left", std::to_string(r.x())});
        entries.push_back({section, "Top", std::to_string(r.y())});
        entries.push_back({section, "Width", std::to_string(r.width())});
        entries.push_back({section, "Height", std::to_string(r.height())});
    };
    save(trendWindow_, kTrendSection);
    if (trendWindow_)
        entries.push_back({kTrendSection, "SpanMinutes", std::to_string(trendWindow_->spanMinutes())});
    save(monitorWindow_, kMonitorSection);
}

// ---- recording

QString ToolWindows::startRecording(const QString& path, bool overwrite) {
    if (recordMessage_) recordMessage_->close();
    if (!recorder_.start(QFile::encodeName(path).toStdString(), overwrite)) {
        const QString error = QString::fromLocal8Bit(recorder_.error().c_str());
        qCDebug(lcTools, "recording to %s refused: %s", qUtf8Printable(path), qUtf8Printable(error));
        showRecordingState();
        emit recordingChanged(false);
        return error;
    }
    qCDebug(lcTools, "recording to %s", qUtf8Printable(path));
    gaps_.reset();
    recordTimer_->start();
    showRecordingState();
    emit recordingChanged(true);
    return {};
}

void ToolWindows::stopRecording() {
    qCDebug(lcTools, "recording stopped");
    recorder_.stop();
    recordTimer_->stop();
    showRecordingState();
    emit recordingChanged(false);
}

void ToolWindows::recordTriggered(bool on) {
    if (!on) return stopRecording();
    const QString title = inLanguage(Text::RecordToCsvTitle);
    const QString suggested =
        QStringLiteral("VX2207-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(
        host_.hostWindow(), title, suggested, inLanguage(Text::CsvFiles) + QStringLiteral(" (*.csv)"));
    if (path.isEmpty()) {
        showRecordingState();
        return;
    }
    // The file dialog has asked before an existing file is replaced.
    if (const QString error = startRecording(path, true); !error.isEmpty())
        QMessageBox::warning(host_.hostWindow(), title, inLanguage(Text::FileCannotBeWritten) + error);
}

void ToolWindows::recordingFailed() {
    qCDebug(lcTools, "recording to %s failed: %s", recorder_.path().c_str(), recorder_.error().c_str());
    recordTimer_->stop();
    showRecordingState();
    emit recordingChanged(false);
    const QString title = inLanguage(Text::RecordingStopped);
    const QString text = inLanguage(Text::RecordingWriteFailed)
                             .arg(QString::fromLocal8Bit(recorder_.path().c_str()),
                                  QString::fromLocal8Bit(recorder_.error().c_str()));
    if (ReportRecordingStopped) return ReportRecordingStopped(title, text);
    // Not modal: the poll cycle goes on while the message waits for the engineer.
    if (recordMessage_) recordMessage_->close();
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, host_.hostWindow());
    box->setObjectName(QStringLiteral("MessageBox_RecordingStopped"));
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    recordMessage_ = box;
}

void ToolWindows::showRecordingState() {
    Action_Record->setChecked(recorder_.recording());
    const QString path = QFile::decodeName(recorder_.path().c_str());
    const QString file = QFileInfo(path).fileName();
    // The menu bar leaves the corner what its menus do not take; a long name gives way in its middle,
    // where a dated name differs least, and the tooltip has the whole path.
    const int room = std::max(120, host_.hostWindow()->width() / 2);
    const auto fit = [this, room](const QString& text, const QString& name) {
        const QFontMetrics fm(Label_Recording->font());
        const int free = room - fm.horizontalAdvance(QString(text).arg(QString()));
        return QString(text).arg(
            fm.elidedText(name, Qt::ElideMiddle, std::max(free, fm.averageCharWidth() * 8)));
    };
    if (recorder_.recording()) {
        Label_Recording->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
        Label_Recording->setText(
            fit(inLanguage(Text::RecordingRows).arg(QStringLiteral("%1"), QString::number(recorder_.rows())),
                file));
        Label_Recording->setToolTip(path);
        Label_Recording->show();
    } else if (!recorder_.error().empty() && !recorder_.path().empty()) {
        Label_Recording->setStyleSheet(QStringLiteral("color: #c00000"));
        Label_Recording->setText(
            fit(inLanguage(Text::RecordingStoppedWhy), QString::fromLocal8Bit(recorder_.error().c_str())));
        Label_Recording->setToolTip(path + QStringLiteral("\n") +
                                    QString::fromLocal8Bit(recorder_.error().c_str()));
        Label_Recording->show();
    } else {
        Label_Recording->hide();
    }
    fitCorner();
}

} // namespace vx::app::tools
