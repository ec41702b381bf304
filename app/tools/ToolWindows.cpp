#include "app/tools/ToolWindows.h"

#include "app/CommandLine.h"
#include "app/Main.h"
#include "app/tools/ToolsLog.h"
#include "app/tools/TrafficWindow.h"
#include "app/tools/TrendWindow.h"
#include "common/profilefile.h"
#include "instrument/codes.h"
#include "link/mb.h"
#include "widgets/speedbutton.h"

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

ToolWindows::ToolWindows(TForm_Main& main, const QStringList& arguments) : QObject(&main), main_(main) {
    setObjectName(QStringLiteral("ToolWindows"));
    // The command line was checked at start-up; here only the file to record to is wanted.
    pendingRecord_ = parseCommandLine(QStringList{QStringLiteral("vx2207-config")} + arguments).recordFile;

    Action_Trend = main.Menu_Tools->addAction(QString(), this, [this] { showTrend(); });
    Action_Trend->setObjectName(QStringLiteral("Action_Trend"));
    Action_Trend->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    Action_Monitor = main.Menu_Tools->addAction(QString(), this, [this] { showMonitor(); });
    Action_Monitor->setObjectName(QStringLiteral("Action_Monitor"));
    Action_Monitor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    main.Menu_Tools->addSeparator();
    Action_Record = main.Menu_Tools->addAction(QString());
    Action_Record->setObjectName(QStringLiteral("Action_Record"));
    Action_Record->setCheckable(true);
    Action_Record->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(Action_Record, &QAction::triggered, this, &ToolWindows::recordTriggered);
    for (QAction* a : {Action_Trend, Action_Monitor, Action_Record})
        a->setShortcutContext(Qt::ApplicationShortcut);

    corner_ = new QWidget(main.MenuBar_Main);
    corner_->setObjectName(QStringLiteral("Widget_StatusArea"));
    QWidget* corner = corner_;
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 0);
    Label_Note = new QLabel(corner);
    Label_Note->setObjectName(QStringLiteral("Label_StatusNote"));
    Label_Note->setContentsMargins(8, 0, 8, 0);
    Label_Note->hide();
    Label_Recording = new QLabel(corner);
    Label_Recording->setObjectName(QStringLiteral("Label_Recording"));
    Label_Recording->setContentsMargins(8, 0, 8, 0);
    Label_Recording->hide();
    cornerLayout->addWidget(Label_Note);
    cornerLayout->addWidget(Label_Recording);
    main.MenuBar_Main->setCornerWidget(corner, Qt::TopRightCorner);

    // Whether a lost port is awaited is the link's; looking twice a second is enough for a notice.
    linkTimer_ = new QTimer(this);
    linkTimer_->setInterval(500);
    connect(linkTimer_, &QTimer::timeout, this, &ToolWindows::watchLink);
    linkTimer_->start();

    recordTimer_ = new QTimer(this);
    recordTimer_->setInterval(250);
    connect(recordTimer_, &QTimer::timeout, this, [this] {
        recorder_.tick(steadyNowMs());
        if (!recorder_.recording()) return recordingFailed();
        showRecordingState();
    });

    connect(&main, &TForm_Main::replyShown, this,
            [this] { takeReply(main_.LastReply, QDateTime::currentMSecsSinceEpoch(), steadyNowMs()); });
    connect(&main, &TForm_Main::linkExchanged, this, &ToolWindows::takeExchange);
    connect(&main, &TForm_Main::languageApplied, this, &ToolWindows::applyTexts);
    applyTexts();
}

ToolWindows::~ToolWindows() {
    delete trendWindow_;
    delete monitorWindow_;
    recorder_.stop();
}

QString ToolWindows::inLanguage(const char* english, const char* hungarian) const {
    return main_.inLanguage(english, hungarian);
}

void ToolWindows::note(const QString& text) {
    lastNote_ = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
    watchLink();
}

void ToolWindows::watchLink() {
    const QString waiting = main_.MB1 ? main_.MB1->MBWaitingForPort() : QString();
    const QString text =
        waiting.isEmpty()
            ? lastNote_
            : inLanguage("Waiting for %1 to come back", "Várakozás a(z) %1 visszatérésére").arg(waiting);
    const QFontMetrics fm(Label_Note->font());
    Label_Note->setText(fm.elidedText(text, Qt::ElideMiddle, std::max(160, main_.width() / 2)));
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
    Action_Trend->setText(inLanguage("Live &trend", "Élő &trend"));
    Action_Monitor->setText(inLanguage("Traffic &monitor", "&Forgalomfigyelő"));
    Action_Record->setText(inLanguage("&Record to CSV file…", "&Rögzítés CSV-fájlba…"));
    showRecordingState();
}

// ---- what the cycle hands over

void ToolWindows::takeReply(const instrument::Reply& reply, std::int64_t wallMs, std::int64_t steadyMs) {
    latest_ = measure(reply);
    // The instrument's echo of the store bit is what says the settings were written.
    if (writePending_ && (reply.AcknowledgeFlags & instrument::kCmdStoreSettings))
        note(inLanguage("Settings written to the instrument", "A beállítások a készülékbe írva"));
    writePending_ = main_.SpeedButton_WriteSettings && main_.SpeedButton_WriteSettings->Down();
    const Measurement& m = *latest_;
    trend_.add(wallMs, {static_cast<float>(m.input), static_cast<float>(m.output),
                        static_cast<float>(m.adFiltered0), static_cast<float>(m.adFiltered1)});
    if (!pendingRecord_.isEmpty()) {
        const QString path = std::exchange(pendingRecord_, QString());
        if (const QString error = startRecording(path); !error.isEmpty())
            std::fprintf(stderr, "vx2207-config: cannot record to %s: %s\n", qPrintable(path),
                         qPrintable(error));
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
        const int span = QString::fromStdString(readProfileString(main_.settingsPath().toStdString(),
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
    const std::string path = main_.settingsPath().toStdString();
    if (path.empty()) return std::nullopt;
    int v[4];
    const char* keys[4] = {"Left", "Top", "Width", "Height"};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = QString::fromStdString(readProfileString(path, section, keys[i], "")).toInt(&ok);
        if (!ok) return std::nullopt;
    }
    const QRect r(v[0], v[1], v[2], v[3]);
    // A window from another screen layout, or nonsense, is not put where nobody sees it.
    if (r.width() < 200 || r.height() < 150 || r.width() > 10000 || r.height() > 10000) return std::nullopt;
    for (const QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().intersects(r)) return r;
    return std::nullopt;
}

void ToolWindows::placeWindow(QWidget* window, const char* section, QSize defaultSize) {
    if (const std::optional<QRect> r = storedGeometry(section)) {
        window->setGeometry(*r);
        return;
    }
    window->resize(defaultSize);
    if (const QScreen* s = main_.screen()) {
        const QRect free = s->availableGeometry();
        window->resize(defaultSize.boundedTo(free.size()));
        window->move(free.center() - QPoint(window->width() / 2, window->height() / 2));
    }
}

void ToolWindows::saveSettings(const std::string& path) const {
    const auto save = [&path](const QWidget* w, const char* section) {
        if (!w) return; // never opened: what the file holds stays
        const QRect r = w->geometry();
        writeProfileString(path, section, "Left", std::to_string(r.x()));
        writeProfileString(path, section, "Top", std::to_string(r.y()));
        writeProfileString(path, section, "Width", std::to_string(r.width()));
        writeProfileString(path, section, "Height", std::to_string(r.height()));
    };
    save(trendWindow_, kTrendSection);
    if (trendWindow_)
        writeProfileString(path, kTrendSection, "SpanMinutes", std::to_string(trendWindow_->spanMinutes()));
    save(monitorWindow_, kMonitorSection);
}

// ---- recording

QString ToolWindows::startRecording(const QString& path) {
    if (recordMessage_) recordMessage_->close();
    if (!recorder_.start(QFile::encodeName(path).toStdString())) {
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
    const QString title = inLanguage("Record to CSV file", "Rögzítés CSV-fájlba");
    const QString suggested =
        QStringLiteral("VX2207-%1.csv")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = QFileDialog::getSaveFileName(
        &main_, title, suggested, inLanguage("CSV files", "CSV-fájlok") + QStringLiteral(" (*.csv)"));
    if (path.isEmpty()) {
        showRecordingState();
        return;
    }
    if (const QString error = startRecording(path); !error.isEmpty())
        QMessageBox::warning(&main_, title,
                             inLanguage("The file cannot be written: ", "A fájl nem írható: ") + error);
}

void ToolWindows::recordingFailed() {
    qCDebug(lcTools, "recording to %s failed: %s", recorder_.path().c_str(), recorder_.error().c_str());
    recordTimer_->stop();
    showRecordingState();
    emit recordingChanged(false);
    const QString title = inLanguage("Recording stopped", "A rögzítés leállt");
    const QString text = inLanguage("Writing %1 failed: %2\n\nThe rows written before the failure are kept "
                                    "in the file.",
                                    "A(z) %1 írása sikertelen: %2\n\nA hiba előtt beírt sorok a fájlban "
                                    "maradtak.")
                             .arg(QString::fromLocal8Bit(recorder_.path().c_str()),
                                  QString::fromLocal8Bit(recorder_.error().c_str()));
    if (ReportRecordingStopped) return ReportRecordingStopped(title, text);
    // Not modal: the poll cycle goes on while the message waits for the engineer.
    if (recordMessage_) recordMessage_->close();
    auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, &main_);
    box->setObjectName(QStringLiteral("MessageBox_RecordingStopped"));
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
    const int room = std::max(120, main_.width() / 2);
    const auto fit = [this, room](const QString& text, const QString& name) {
        const QFontMetrics fm(Label_Recording->font());
        const int free = room - fm.horizontalAdvance(QString(text).arg(QString()));
        return QString(text).arg(
            fm.elidedText(name, Qt::ElideMiddle, std::max(free, fm.averageCharWidth() * 8)));
    };
    if (recorder_.recording()) {
        Label_Recording->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
        Label_Recording->setText(fit(inLanguage("● Recording %1: %2 rows", "● Rögzítés %1: %2 sor")
                                         .arg(QStringLiteral("%1"), QString::number(recorder_.rows())),
                                     file));
        Label_Recording->setToolTip(path);
        Label_Recording->show();
    } else if (!recorder_.error().empty() && !recorder_.path().empty()) {
        Label_Recording->setStyleSheet(QStringLiteral("color: #c00000"));
        Label_Recording->setText(fit(inLanguage("Recording stopped: %1", "A rögzítés leállt: %1"),
                                     QString::fromLocal8Bit(recorder_.error().c_str())));
        Label_Recording->setToolTip(path + QStringLiteral("\n") +
                                    QString::fromLocal8Bit(recorder_.error().c_str()));
        Label_Recording->show();
    } else {
        Label_Recording->hide();
    }
    fitCorner();
}

} // namespace vx::app::tools
