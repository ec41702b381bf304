// The trend, the recording and the traffic monitor on the window, fed as the cycle feeds them.
#include "app/Main.h"
#include "app/tools/ToolWindows.h"
#include "app/tools/TrafficWindow.h"
#include "app/tools/TrendWindow.h"
#include "instrument/codes.h"
#include "samples.h"
#include "waitfor.h"
#include "widgets/speedbutton.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>

using namespace vx::app::tools;
namespace ins = vx::instrument;

namespace {

class ToolWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile f(dir.filePath("vx.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Date]\nDate=x\n[Com]\nMBLastUsedPort=/dev/x\n[Language]\nGsSelectedLanguage=english\n");
    }
    std::unique_ptr<TForm_Main> open(QStringList args = {}) {
        TForm_Main::Options o;
        o.settingsPath = dir.filePath("vx.ini");
        o.arguments = std::move(args);
        auto w = std::make_unique<TForm_Main>(std::move(o));
        w->FormActivate();
        return w;
    }
    static ins::Reply reply(double input) { return vx::test::sampleReply({.input = input, .outputLow = 0}); }
    static void timeOut(ToolWindows& t, std::int64_t at) {
        LinkExchange e;
        e.wallMs = at;
        e.outcome = Outcome::TimeOut;
        e.attempt = 5;
        t.takeExchange(e, true);
    }
    QTemporaryDir dir;
};

TEST_F(ToolWindowsTest, TrendDrawsGapsAndReadsTheCursorInBothLanguages) {
    auto w = open();
    ToolWindows& t = *w->Tools;
    EXPECT_EQ(t.Action_Trend->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
    EXPECT_TRUE(w->Menu_Tools->actions().contains(t.Action_Monitor));
    const std::int64_t t0 = 1'700'000'000'000;
    for (int i = 0; i < 40; ++i) {
        if (i == 20) timeOut(t, t0 + i * 50);
        t.takeReply(reply(4 + i * 0.1), t0 + i * 50, i * 50);
    }
    TrendWindow* trend = t.showTrend();
    trend->resize(800, 500);
    trend->setSpanMinutes(1);
    trend->refresh();
    EXPECT_EQ(trend->segments(TrendChannel::Input).size(), 2u);
    EXPECT_EQ(trend->segments(TrendChannel::Output).size(), 2u);
    EXPECT_TRUE(trend->segments(TrendChannel::Converter0).empty()); // not the maker's mode
    EXPECT_TRUE(trend->chart()->axes(Qt::Vertical).front()->titleText().contains("[mA]"));
    trend->setCursorTime(t0 + 1000);
    EXPECT_TRUE(trend->cursorText().contains("no reply")) << trend->cursorText().toStdString();
    trend->setCursorTime(t0 + 500);
    EXPECT_TRUE(trend->cursorText().contains("input 5")) << trend->cursorText().toStdString();
    w->ApplyLanguage("magyar");
    EXPECT_EQ(t.Action_Trend->text(), QString::fromUtf8("Élő &trend"));
    EXPECT_TRUE(trend->cursorText().contains("bemenet 5")) << trend->cursorText().toStdString();
    // Paused, the range stays while replies come.
    trend->setPaused(true);
    const auto held = trend->viewport().range(0);
    t.takeReply(reply(9), t0 + 60'000, 60'000);
    EXPECT_EQ(trend->viewport().range(t.trend().newest()), held);
}

TEST_F(ToolWindowsTest, MonitorFiltersFailuresShowsFieldsAndSaves) {
    auto w = open();
    ToolWindows& t = *w->Tools;
    const std::vector<std::uint8_t> frame = vx::test::requestFrame({});
    for (int i = 0; i < 30; ++i) {
        LinkExchange e;
        e.wallMs = 1000 + i;
        e.roundTripUs = 12'345;
        e.attempt = 1;
        e.outcome = i % 10 == 3 ? Outcome::TimeOut : Outcome::Ok;
        e.request = frame;
        t.takeExchange(e, e.outcome == Outcome::Ok);
    }
    TrafficWindow* m = t.showMonitor();
    m->CheckBox_FailuresOnly->setChecked(true);
    ASSERT_EQ(m->model()->rowCount(), 3);
    m->selectRow(1);
    const QString detail = m->Memo_Detail->toPlainText();
    EXPECT_TRUE(detail.contains("#14")) << detail.toStdString();
    EXPECT_TRUE(detail.contains("time-out"));
    EXPECT_TRUE(detail.contains("uPWMForce = 0"));
    EXPECT_TRUE(detail.contains("0000  01 00 01"));
    const QString path = dir.filePath("traffic.txt");
    EXPECT_TRUE(m->saveTo(path).isEmpty());
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().count("time-out"), 3);
    // Paused, nothing new comes in; cleared, the table empties.
    m->Button_Pause->click();
    LinkExchange late;
    late.outcome = Outcome::ClosedPort;
    t.takeExchange(late, true);
    EXPECT_EQ(t.traffic().size(), 30u);
    m->Button_Clear->click();
    EXPECT_EQ(m->model()->rowCount(), 0);
}

TEST_F(ToolWindowsTest, GeometryInSectionsOfTheirOwnAfterTheOthers) {
    {
        auto w = open();
        w->Tools->showTrend()->setGeometry(40, 50, 700, 400);
        w->Tools->showMonitor()->setGeometry(60, 70, 600, 300);
        w->Tools->trendWindow()->setSpanMinutes(15);
        w->close();
    }
    QFile f(dir.filePath("vx.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.startsWith("[Date]\nDate=")) << text.toStdString();
    EXPECT_LT(text.indexOf("[Language]"), text.indexOf("[TrendWindow]"));
    EXPECT_LT(text.indexOf("[TrendWindow]"), text.indexOf("[TrafficMonitor]"));
    EXPECT_TRUE(text.contains("[TrendWindow]\nLeft=40\nTop=50\nWidth=700\nHeight=400\nSpanMinutes=15\n"));
    auto w = open();
    EXPECT_EQ(w->Tools->showTrend()->geometry(), QRect(40, 50, 700, 400));
    EXPECT_EQ(w->Tools->trendWindow()->spanMinutes(), 15);
    EXPECT_EQ(w->Tools->showMonitor()->geometry(), QRect(60, 70, 600, 300));
}

TEST_F(ToolWindowsTest, RecordArgumentStartsAtTheFirstReplyAndAFullDiskStopsItVisibly) {
    const QString path = dir.filePath("rec.csv");
    auto w = open({"/QARNEL", "--record", path});
    ToolWindows& t = *w->Tools;
    QStringList told;
    t.ReportRecordingStopped = [&told](const QString&, const QString& text) { told << text; };
    EXPECT_FALSE(t.recording());
    EXPECT_FALSE(QFile::exists(path));
    t.takeReply(reply(12), 1000, 0);
    ASSERT_TRUE(t.recording());
    EXPECT_TRUE(t.Action_Record->isChecked());
    EXPECT_TRUE(t.Label_Recording->text().contains("rec.csv"));
    // The disk fills: the recording ends, the engineer is told, the rows so far stay.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = static_cast<rlim_t>(QFileInfo(path).size() + 200);
    ::setrlimit(RLIMIT_FSIZE, &full);
    for (int i = 1; i < 100 && t.recording(); ++i)
        t.takeReply(reply(12), 1000 + i * 50, i * 1000);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(t.recording());
    EXPECT_FALSE(t.Action_Record->isChecked());
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].contains("rec.csv") && told[0].contains("File too large")) << told[0].toStdString();
    EXPECT_TRUE(t.Label_Recording->text().startsWith("Recording stopped"));
    QFile kept(path); // ending at the last whole row
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_TRUE(kept.readAll().endsWith("\r\n"));
    EXPECT_LT(kept.size(), static_cast<qint64>(full.rlim_cur));
}

} // namespace

namespace {

TEST_F(ToolWindowsTest, RecordArgumentReplacesAnExistingFileOnlyWhenTold) {
    const QString path = dir.filePath("old.csv");
    for (const bool replace : {false, true}) {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("kept");
        old.close();
        QStringList args{"--record", path};
        if (replace) args << "--record-overwrite";
        auto w = open(args);
        ::testing::internal::CaptureStderr();
        w->Tools->takeReply(reply(12), 1000, 0);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(w->Tools->recording(), replace);
        if (!replace) {
            EXPECT_NE(said.find("--record-overwrite"), std::string::npos) << said;
            ASSERT_TRUE(old.open(QIODevice::ReadOnly));
            EXPECT_EQ(old.readAll(), "kept");
        }
    }
}

TEST_F(ToolWindowsTest, TrendSharesOneRoundAxisZoomsResetsAndExports) {
    auto w = open();
    ToolWindows& t = *w->Tools;
    TrendWindow* trend = t.showTrend();
    trend->resize(800, 500);
    trend->setCursorTime(QDateTime::currentMSecsSinceEpoch());
    EXPECT_EQ(trend->cursorText(), QString()); // nothing to read before the first reply
    const std::int64_t t0 = 1'700'000'000'000;
    for (int i = 0; i < 40; ++i)
        t.takeReply(reply(4.3 + i * 0.1), t0 + i * 50, i * 50);
    trend->setSpanMinutes(1);
    trend->refresh();
    // Input and output both in mA: one axis, round ends.
    EXPECT_FALSE(trend->outputAxisShown());
    EXPECT_EQ(trend->inputTicks(), trend->outputTicks());
    EXPECT_EQ(trend->inputTicks(), niceAxis(4, 20))
        << trend->inputTicks().lo << ".." << trend->inputTicks().hi;
    trend->zoom(0.5, t0 + 1000);
    EXPECT_EQ(trend->ComboBox_Span->currentData().toInt(), 0);
    EXPECT_TRUE(trend->ComboBox_Span->currentText().startsWith("Custom: 0:30"))
        << trend->ComboBox_Span->currentText().toStdString();
    const AxisTicks fitted = trend->inputTicks();
    trend->zoomValues(0.5);
    EXPECT_DOUBLE_EQ(trend->inputTicks().hi - trend->inputTicks().lo, (fitted.hi - fitted.lo) / 2);
    trend->Button_Reset->click();
    EXPECT_EQ(trend->ComboBox_Span->currentText(), "Last 1 min");
    EXPECT_EQ(trend->inputTicks(), fitted);
    EXPECT_FALSE(trend->paused());
    EXPECT_TRUE(trend->Label_Hint->text().contains("Shift+wheel"));
    // The shown range as numbers and as a picture.
    const QString csv = dir.filePath("trend.csv"), png = dir.filePath("trend.png");
    ASSERT_EQ(trend->exportCsv(csv), QString());
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    EXPECT_EQ(lines.size(), 42); // header, 40 replies, nothing after the last CRLF
    EXPECT_TRUE(lines[1].contains(",4.3,mA,")) << lines[1].toStdString();
    ASSERT_EQ(trend->exportPng(png), QString());
    EXPECT_EQ(QImage(png).size(), trend->ChartView->size());
    EXPECT_FALSE(trend->exportCsv(dir.filePath("none/trend.csv")).isEmpty());
}

TEST_F(ToolWindowsTest, MonitorKeepsThePickedRowInSightAndShowsOnlyWhatTheFilterShows) {
    auto w = open();
    ToolWindows& t = *w->Tools;
    const auto push = [&t](int n) {
        LinkExchange e;
        const std::uint8_t frame[] = {0x03, 0x00, 0x01, 'V', 'X'};
        e.request = frame;
        e.attempt = 1;
        e.outcome = n % 10 == 3 ? Outcome::TimeOut : Outcome::Ok;
        t.takeExchange(e, true);
    };
    for (int i = 0; i < 100; ++i)
        push(i);
    TrafficWindow* m = t.showMonitor();
    m->resize(900, 300);
    ASSERT_WAIT(m->model()->rowCount() == 100, 5000);
    EXPECT_EQ(m->model()->headerData(TrafficModel::ColAddress, Qt::Horizontal, Qt::DisplayRole), "Address");
    EXPECT_EQ(m->model()->data(m->model()->index(0, TrafficModel::ColAddress), Qt::DisplayRole), "3");
    EXPECT_EQ(m->model()->data(m->model()->index(0, TrafficModel::ColFunction), Qt::DisplayRole), "1");
    EXPECT_TRUE(m->following());
    // Picked while capturing: the row stays in sight, capture goes on.
    m->Table_Exchanges->setCurrentIndex(m->model()->index(95, 0));
    for (int i = 100; i < 300; ++i)
        push(i);
    ASSERT_WAIT(m->model()->rowCount() == 300, 5000);
    EXPECT_FALSE(m->following());
    const QRect picked = m->Table_Exchanges->visualRect(m->model()->index(95, 0));
    EXPECT_TRUE(m->Table_Exchanges->viewport()->rect().contains(picked)) << picked.y();
    EXPECT_TRUE(m->Memo_Detail->toPlainText().contains("|...VX|"));
    m->Table_Exchanges->verticalScrollBar()->setValue(m->Table_Exchanges->verticalScrollBar()->maximum());
    EXPECT_TRUE(m->following());
    // A good exchange picked, then failures only: the detail no longer shows it.
    m->CheckBox_FailuresOnly->setChecked(true);
    EXPECT_EQ(m->Memo_Detail->toPlainText(), QString());
    // A failed one stays picked across the filter.
    m->CheckBox_FailuresOnly->setChecked(false);
    m->Table_Exchanges->setCurrentIndex(m->model()->index(13, 0));
    m->CheckBox_FailuresOnly->setChecked(true);
    EXPECT_TRUE(m->Memo_Detail->toPlainText().startsWith("#14 "))
        << m->Memo_Detail->toPlainText().toStdString();
}

TEST_F(ToolWindowsTest, TheIndicatorGivesWayInTheMiddleAndTheStatusAreaConfirms) {
    auto w = open();
    ToolWindows& t = *w->Tools;
    const QString path = dir.filePath(QString(120, QLatin1Char('x')) + QStringLiteral("-end.csv"));
    ASSERT_EQ(t.startRecording(path), QString());
    const QString shown = t.Label_Recording->text();
    EXPECT_TRUE(shown.contains(QChar(0x2026)) && shown.contains("-end.csv")) << shown.toStdString();
    EXPECT_LE(t.Label_Recording->fontMetrics().horizontalAdvance(shown), std::max(120, w->width() / 2));
    EXPECT_EQ(t.Label_Recording->toolTip(), path);
    t.stopRecording();
    // The instrument's echo of the store bit confirms a settings write, once; commands go out only on
    // a connection that has answered.
    w->Commands.portOpened();
    w->Commands.transactionEnded(vx::app::CommandGuard::Outcome::Reply);
    w->SpeedButton_WriteSettings->setDown(true);
    t.takeReply(reply(5), 1000, 0);
    EXPECT_TRUE(t.Label_Note->isHidden());
    w->SpeedButton_WriteSettings->setDown(false);
    ins::Reply acked = reply(5);
    acked.AcknowledgeFlags = ins::kCmdStoreSettings;
    t.takeReply(acked, 1050, 50);
    EXPECT_TRUE(t.Label_Note->text().endsWith("Settings written to the instrument"))
        << t.Label_Note->text().toStdString();
    EXPECT_EQ(t.Label_Note->text().indexOf(':'), 2); // the time comes first
}

} // namespace
