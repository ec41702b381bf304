#pragma once
// The added windows beside the specified one: the live trend, the recording to CSV and the traffic
// monitor, with their entries in the main window's Tools menu. They only read what the poll cycle
// already decoded (the replies the window showed, the link's attempts as it reported them); nothing
// here sends on the link or waits inside the cycle. The trend and the monitor keep their data while
// their windows are closed, so opening one shows what happened before.
#include "app/tools/CsvRecorder.h"
#include "app/tools/LinkGaps.h"
#include "app/tools/Measurement.h"
#include "app/tools/ToolHost.h"
#include "app/tools/Traffic.h"
#include "app/tools/TrendStore.h"
#include "common/profilefile.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMessageBox;
class QTimer;
class QWidget;

namespace vx::app::tools {

class TrendWindow;
class TrafficWindow;

class ToolWindows : public QObject {
    Q_OBJECT
public:
    // arguments: the command line without the program's path (for --record).
    ToolWindows(ToolHost& host, const QStringList& arguments);
    ~ToolWindows() override;

    ToolHost& host() const { return host_; }
    QString inLanguage(Text key) const;

    // What the cycle hands over, with explicit times so a benchmark can feed a day through them:
    // wallMs since the epoch, steadyMs of any steady clock.
    void takeReply(const instrument::Reply& reply, std::int64_t wallMs, std::int64_t steadyMs);
    void takeExchange(const LinkExchange& exchange, bool transactionEnded);

    const TrendStore& trend() const { return trend_; }
    const TrafficRing& traffic() const { return traffic_; }
    void clearTraffic() { traffic_.clear(); }
    // Paused, the monitor takes nothing new in (the ring keeps what it had).
    void setTrafficPaused(bool paused) { trafficPaused_ = paused; }
    bool trafficPaused() const { return trafficPaused_; }
    // The latest good reply's values, units and scale; none before the first.
    const std::optional<Measurement>& latest() const { return latest_; }

    // The windows, made when first opened.
    TrendWindow* showTrend();
    TrafficWindow* showMonitor();
    TrendWindow* trendWindow() const { return trendWindow_; }
    TrafficWindow* monitorWindow() const { return monitorWindow_; }

    // Recording. start returns an error text, empty on success.
    // An existing file is replaced only with overwrite.
    QString startRecording(const QString& path, bool overwrite = false);
    void stopRecording();
    bool recording() const { return recorder_.recording(); }
    const CsvRecorder& recorder() const { return recorder_; }
    // The file --record named, until the first good reply starts it.
    const QString& pendingRecord() const { return pendingRecord_; }

    // The settings file: each window's geometry in a section of its own, after the others.
    void saveSettings(std::vector<ProfileEntry>& entries) const;
    // Closed with the main window.
    void closeWindows();

    // A short line in the window's status area (the menu bar's corner) after something was written or
    // saved, with the time it happened; it stays until the next one.
    void note(const QString& text);

    // Tells the engineer that a recording ended by itself; unset, a message box (not modal) does. Tests
    // put a recorder here.
    std::function<void(const QString& title, const QString& text)> ReportRecordingStopped;

    QAction *Action_Trend = nullptr, *Action_Monitor = nullptr, *Action_Record = nullptr;
    QLabel* Label_Recording = nullptr; // in the menu bar's corner while recording or after a failure
    QLabel* Label_Note = nullptr;      // beside it: the last confirmation, or that a lost port is awaited

signals:
    // After a good reply was taken in, for the open windows.
    void replyTaken();
    void recordingChanged(bool recording);

private:
    void applyTexts();
    void recordTriggered(bool on);
    void recordingFailed();
    void showRecordingState();
    void watchLink();
    void fitCorner();
    std::optional<QRect> storedGeometry(const char* section) const;
    void placeWindow(QWidget* window, const char* section, QSize defaultSize);

    ToolHost& host_;
    TrendStore trend_;
    TrafficRing traffic_;
    CsvRecorder recorder_;
    LinkGaps gaps_;
    std::optional<Measurement> latest_;
    bool trafficPaused_ = false;
    QString pendingRecord_;
    bool pendingRecordOverwrite_ = false;
    QTimer* recordTimer_ = nullptr;
    QWidget* corner_ = nullptr;
    QSize cornerHint_;
    QString lastNote_;
    bool writePending_ = false; // the settings write was down at the last reply
    QPointer<QMessageBox> recordMessage_;
    TrendWindow* trendWindow_ = nullptr;
    TrafficWindow* monitorWindow_ = nullptr;
};

} // namespace vx::app::tools
