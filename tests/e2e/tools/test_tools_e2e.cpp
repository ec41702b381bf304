// The recording and the traffic monitor against vx2207-sim over a real pseudo-terminal.
#include "app/DUTHiba.h"
#include "app/Main.h"
#include "app/tools/ToolWindows.h"
#include "app/tools/TrafficWindow.h"
#include "link/mb.h"
#include "sim/harness.h"
#include "simwindow.h"
#include "waitfor.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using namespace vx::app::tools;
using vx::sim::SimProcess;

namespace {

class ToolsE2E : public ::testing::Test, protected SimWindow {
protected:
    // Opens `port`, or the simulator's own device when it is empty.
    void start(const std::vector<std::string>& simArgs, QStringList args, const std::string& port = {}) {
        sim = std::make_unique<SimProcess>(VX2207_SIM, simArgs);
        ASSERT_TRUE(sim->started());
        ASSERT_TRUE(makeWindow(std::move(args), "english", true));
        ASSERT_TRUE(open(port.empty() ? sim->devicePath() : port));
    }
    void TearDown() override { stop(); }
};

TEST_F(ToolsE2E, RecordArgumentWritesARowForEveryReplyWithWhatTheInstrumentSent) {
    const QString path = dir.filePath("run.csv");
    start({"--calibrated", "--signal", "12", "--noise", "0"}, {"--record", path});
    std::vector<vx::instrument::Reply> sent;
    QObject::connect(w.get(), &TForm_Main::replyShown, [&] { sent.push_back(w->LastReply); });
    // A few seconds of polling.
    ASSERT_WAIT(sent.size() >= 40, 20000);
    w->MB1->MBClosePort();
    w->Tools->stopRecording();

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(),
              static_cast<qsizetype>(sent.size()) + 2); // header, rows, nothing after the last CRLF
    EXPECT_EQ(lines[0] + '\n', QByteArray::fromStdString(csvHeader()));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const Measurement m = measure(sent[i]);
        const QList<QByteArray> cells = lines[static_cast<qsizetype>(i) + 1].split(',');
        ASSERT_EQ(cells.size(), 13) << i;
        EXPECT_EQ(cells[1].toStdString(), csvNumber(m.input)) << i;
        EXPECT_EQ(cells[2], "mA");
        EXPECT_EQ(cells[3].toStdString(), csvNumber(m.output)) << i;
        EXPECT_EQ(cells[9].toInt(), sent[i].AdFiltered0) << i;
        EXPECT_NEAR(cells[1].toDouble(), 12.0, 0.01) << i; // the simulated calibrator's signal
    }
}

TEST_F(ToolsE2E, DroppedRepliesAreTheTimeOutsOfTheFailureFilter) {
    start({"--calibrated", "--drop", "0.2", "--seed", "7"}, {});
    TrafficWindow* monitor = w->Tools->showMonitor();
    monitor->CheckBox_FailuresOnly->setChecked(true);
    ASSERT_WAIT(monitor->model()->rowCount() >= 2, 30000);
    for (int row = 0; row < monitor->model()->rowCount(); ++row) {
        const RecordedExchange* e = monitor->model()->exchangeAt(row);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->outcome, Outcome::TimeOut) << row;
        EXPECT_EQ(e->requestLength, 107);
        EXPECT_EQ(e->replyLength, 0);
        EXPECT_GE(e->roundTripUs, 1'000'000); // the link's time-out
    }
    monitor->selectRow(0);
    EXPECT_TRUE(monitor->Memo_Detail->toPlainText().contains("time-out"));
    // The retry that follows a time-out is in the ring as the next attempt.
    const RecordedExchange* failed = monitor->model()->exchangeAt(0);
    ASSERT_WAIT(w->Tools->traffic().byNumber(failed->number + 1) != nullptr, 5000);
    EXPECT_EQ(w->Tools->traffic().byNumber(failed->number + 1)->attempt, failed->attempt + 1);
}

TEST_F(ToolsE2E, ARecordingMarksTheLostLinkAndItsReturnWithRowsOfTheirOwn) {
    const QString path = dir.filePath("gap.csv");
    const std::string link = dir.filePath("sim.tty").toStdString();
    const std::vector<std::string> simArgs = {"--link", link, "--calibrated", "--exit-with-parent"};
    start(simArgs, {"--record", path}, link);
    int replies = 0;
    QObject::connect(w.get(), &TForm_Main::replyShown, [&] { ++replies; });
    ASSERT_WAIT(replies >= 5, 20000);
    sim.reset(); // unplugged
    ASSERT_WAIT(!w->MB1->MBWaitingForPort().isEmpty(), 10000);
    ASSERT_WAIT(w->Tools->Label_Note->text().contains("Waiting for"), 2000);
    const int before = replies;
    sim = std::make_unique<SimProcess>(VX2207_SIM, simArgs); // plugged back in
    ASSERT_TRUE(sim->started());
    ASSERT_WAIT(replies >= before + 5, 20000);
    EXPECT_FALSE(w->Tools->Label_Note->text().contains("Waiting for"));
    w->Tools->stopRecording();

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    lines.removeLast(); // after the last CRLF
    std::vector<QByteArray> events;
    int data = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> cells = lines[i].trimmed().split(',');
        ASSERT_EQ(cells.size(), 13) << i;
        if (cells[12].isEmpty()) {
            ++data;
            continue;
        }
        events.push_back(cells[12]);
        for (qsizetype c = 1; c < 12; ++c)
            EXPECT_TRUE(cells[c].isEmpty()) << i << ":" << c;
        // The loss follows the rows before it; the return precedes the rows after it.
        EXPECT_TRUE(i > 1 && i + 1 < lines.size()) << i;
    }
    EXPECT_EQ(data, replies);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], "link lost: closed port");
    EXPECT_EQ(events[1], "link back");
}

} // namespace
