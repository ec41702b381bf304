// The trend, the recording and the traffic monitor on the window, fed as the cycle feeds them.
#include "app/Main.h"
#include "app/tools/ToolWindows.h"
#include "app/tools/TrafficWindow.h"
#include "app/tools/TrendWindow.h"
#include "instrument/codes.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
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
    static ins::Reply reply(double input) {
        ins::Reply r;
        r.InputValue = input;
        r.InputRangeIndex = ins::kCurrentRange;
        r.OutputTypeCode = ins::kTypeCurrent;
        r.DeviceInputLow = 4;
        r.DeviceInputHigh = 20;
        r.DeviceOutputHigh = 20;
        r.OutputFraction = 0.5f;
        r.Temperature = 25;
        return r;
    }
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
    const auto request = ins::encodeRequest(ins::Request{});
    std::vector<std::uint8_t> frame = {0x01, 0x00, 0x01};
    frame.insert(frame.end(), request.begin(), request.end());
    frame.insert(frame.end(), {0, 0});
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

} // namespace
