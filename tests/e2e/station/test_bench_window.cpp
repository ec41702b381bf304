// The automatic runs in the window: the bench window's controls against the simulator's unit, meter and
// source, the wizard and the procedure driven through their own pages.
#include "simbench.h"
#include "simwindow.h"
#include "waitfor.h"

#include "app/bench/BenchStation.h"
#include "app/records/RecordsWindow.h"
#include "sim/unit.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

#include <gtest/gtest.h>

using vx::app::bench::BenchStation;
using namespace std::chrono_literals;
namespace rec = vx::records;

namespace {

// The window in the maker's mode against the simulator, its bench window connected to the simulated
// meter and source, "store when done" ticked.
struct BenchWindow : SimWindow {
    QString meter = dir.filePath("meter"), source = dir.filePath("source");
    QWidget* win = nullptr;
    bool connect() {
        if (!start({"--scpi-meter", meter.toStdString(), "--scpi-source", source.toStdString()}, {"/QARNEL"},
                   "english"))
            return false;
        win = w->Bench->showWindow();
        win->findChild<QLineEdit*>("Edit_BenchMeter")->setText(meter);
        win->findChild<QLineEdit*>("Edit_BenchSource")->setText(source);
        win->findChild<QCheckBox*>("CheckBox_BenchStore")->setChecked(true);
        return w->Bench->connectInstruments();
    }
    template <typename T> T* page(const char* name) { return w->findChild<T*>(name); }
};

} // namespace

TEST(BenchWindow, RunsTheOutputCalibrationOnItsPageAndStopLeavesTheInputRunUnforced) {
    BenchWindow sw;
    ASSERT_TRUE(sw.connect());
    TForm_Main& w = *sw.w;
    BenchStation& bench = *w.Bench;
    QWidget* win = sw.win;

    QSignalSpy finished(&bench, &BenchStation::finished);
    ASSERT_TRUE(bench.startOutput());
    // The page itself shows where the run is and offers Stop, in space no specified control uses.
    ASSERT_WAIT(sw.page<QLabel>("Label_AutoOutput")->text() == "Step 2 of 7: searching 20 mA", 30000);
    EXPECT_TRUE(sw.page<QWidget>("Panel_AutoOutput")->isVisibleTo(w.TabSheet_OutputCalibration));
    for (QWidget* panel : {sw.page<QWidget>("Panel_AutoOutput"), sw.page<QWidget>("Panel_AutoInput")})
        for (QWidget* other : panel->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(other == panel || !other->geometry().intersects(panel->geometry()))
                << other->objectName().toStdString();
    if (qEnvironmentVariableIsSet("VX_BENCH_SHOTS"))
        w.grab().save(qEnvironmentVariable("VX_BENCH_SHOTS") + "/bench-output-run.png");
    ASSERT_TRUE(!finished.empty() || finished.wait(90000)) << "the run did not end";
    ASSERT_TRUE(finished.at(0).at(0).toBool()) << bench.lastError().toStdString();
    const vx::sim::Unit unit = vx::sim::Unit::fromSeed(2207);
    EXPECT_NEAR(w.uOut4mA, unit.current.pwmFor(4.0), 1.0);
    EXPECT_NEAR(w.uOut20mA, unit.current.pwmFor(20.0), 1.0);
    EXPECT_NEAR(w.uOut2V, unit.voltage.pwmFor(2.0), 1.0);
    EXPECT_NEAR(w.uOut10V, unit.voltage.pwmFor(10.0), 1.0);
    EXPECT_EQ(w.ListBox_OutputCalibrated->count(), 11);
    EXPECT_EQ(w.OutputCalibrationStep(), 7);
    ASSERT_TRUE(sw.reply());
    EXPECT_EQ(w.LastReply.StatusFlags & vx::instrument::kStatusOutputUncalibrated, 0);

    // The input run, stopped on its fifth step with the source on and the path forced.
    ASSERT_TRUE(bench.startInput());
    for (int i = 0; i < 200 && w.InCal.step != 51; ++i)
        ASSERT_TRUE(sw.reply());
    ASSERT_EQ(w.InCal.step, 51);
    // A reply already under way when the source was set may still show the step before.
    EXPECT_TRUE(sw.until([&] { return w.LastReply.ReservedSingle == 0.5f; }, {.replies = 2}));
    if (qEnvironmentVariableIsSet("VX_BENCH_SHOTS")) {
        // The README's picture of a run under way: the window and the bench window beside it.
        const QPixmap main = w.grab(), bench = win->grab();
        QPixmap both(main.width() + bench.width(), std::max(main.height(), bench.height()));
        both.fill(Qt::white);
        QPainter painter(&both);
        painter.drawPixmap(0, 0, main);
        painter.drawPixmap(main.width(), 0, bench);
        painter.end();
        both.save(qEnvironmentVariable("VX_BENCH_SHOTS") + "/bench-run.png");
    }
    sw.page<QPushButton>("Button_AutoInputStop")->click();
    EXPECT_FALSE(bench.running());
    EXPECT_EQ(sw.page<QLabel>("Label_AutoInput")->text(), "Stopped: stopped");
    EXPECT_EQ(win->findChild<QLabel*>("Label_BenchStatus")->text(), "Stopped: stopped");
    EXPECT_EQ(w.uPWMForce, 0);
    EXPECT_EQ(w.RadioGroup_GainForce->ItemIndex() + w.RadioGroup_DividerForce->ItemIndex(), 0);
    ASSERT_TRUE(sw.reply());
    ASSERT_TRUE(sw.reply());
    EXPECT_EQ(w.LastReply.ReservedSingle, 0.0);
    EXPECT_EQ(w.LastReply.StatusFlags & vx::instrument::kStatusInputUncalibrated,
              vx::instrument::kStatusInputUncalibrated);
}

TEST(BenchWindow, RecordChecksUseTheBenchAndClosingThePortOrTheWindowMidRunLeavesTheUnitUnforced) {
    BenchWindow sw;
    ASSERT_TRUE(sw.connect());
    TForm_Main& w = *sw.w;
    w.Records->setPaths(sw.dir.filePath("h.sqlite"), sw.dir.filePath("p.ini"), sw.dir.filePath("out"));
    vx::app::records::RecordsWindow& r = *w.Records->showRun();
    r.CheckBox_Trial->setChecked(true); // the bench's reference lines carry no certificate yet
    r.Edit_Serial->setText("SN-B-1");
    for (bool output : {true, false}) { // nothing typed, nothing applied by hand
        ASSERT_EQ(r.startVerify(output), "");
        ASSERT_WAIT(!r.procedure().running(), 60000) << r.Label_Status->text().toStdString();
    }
    ASSERT_TRUE(sw.reply() && sw.reply());
    EXPECT_EQ(w.LastReply.ReservedSingle + w.RadioGroup_MereshatarForce->ItemIndex(), 0); // nothing left on
    const vx::sim::Unit unit = vx::sim::Unit::fromSeed(2207);
    ASSERT_EQ(r.run().points.size(), 5u + 4u);
    for (const rec::Point& p : r.run().points) // the output as the unit drives it uncalibrated
        EXPECT_NEAR(p.check.range < 0 ? p.reference : p.instrument,
                    p.check.range < 0 ? unit.current.at(p.check.nominal / 24 * 65535) : p.check.nominal,
                    p.check.range < 0 ? 1e-3 : 0.02 * p.check.span);
    QSignalSpy saved(&r, &vx::app::records::RecordsWindow::saved);
    ASSERT_EQ(r.saveRecord(), "");
    const auto record = w.Records->history().load(saved.at(0).at(0).value<std::int64_t>());
    ASSERT_TRUE(record && record->references.size() == 2u);
    EXPECT_EQ(record->references[0], (rec::Reference{"VX-SIM Reference Meter 6.5", "SIM0001", "", ""}));
    EXPECT_EQ(record->references[1].serial, "SIM0002");

    // Closed in the middle of an input run, on the link panel or with the window. Until then the run keeps
    // the output forced where the engineer left it and the source applies 0.5 V.
    for (const bool panel : {true, false}) {
        SCOPED_TRACE(panel ? "Close on the link panel" : "the window closed");
        w.uPWMValue = 40000;
        ASSERT_TRUE(w.Bench->startInput());
        ASSERT_WAIT(w.InCal.step == 51 && w.LastReply.ReservedSingle == 0.5f, 30000);
        ASSERT_EQ(w.LastReply.PwmValue, 40000);
        EXPECT_EQ(sw.page<QLabel>("Label_AutoInput")->text(), "Step 5 of 15: waiting for a settled reading");
        // Not before a request carried the unforced state.
        if (panel) {
            w.MB1->findChild<QPushButton*>("SpeedButton_Open")->click();
            EXPECT_TRUE(w.MB1->MBPortOpen());
            EXPECT_EQ(sw.page<QLabel>("Label_AutoInput")->text(), "Stopped: the port was closed");
        } else {
            EXPECT_FALSE(w.close());
        }
        EXPECT_FALSE(w.Bench->running());
        ASSERT_WAIT(!w.MB1->MBPortOpen(), 5000);
        // Only the unit's true output tells, without a request of its own: the meter reads it.
        if (!panel) sw.w.reset();
        auto own = panel ? nullptr : vx::testing::openInstrument("meter", sw.meter.toStdString());
        vx::station::ScpiInstrument* meter = panel ? w.Bench->meter() : own.get();
        ASSERT_TRUE(meter);
        const auto level = meter->measure(vx::station::Quantity::Current);
        ASSERT_TRUE(level.has_value()) << meter->error();
        const auto now = vx::testing::SimUnitLink(sw.sim->devicePath()).cycle({});
        ASSERT_TRUE(now.has_value());
        EXPECT_NEAR(*level, unit.outputAt(now->PwmValue).currentMa / 1000, 5e-6);
        EXPECT_EQ(now->ReservedSingle, 0.0f); // the source is off
        EXPECT_EQ(now->StatusFlags & vx::instrument::kStatusInputUncalibrated,
                  vx::instrument::kStatusInputUncalibrated); // nothing stored
        if (panel) {
            ASSERT_TRUE(sw.open(sw.sim->devicePath()) && sw.reply());
        }
    }
}

// The meter's profile file in the window: one the simulated meter understands, with its own commands,
// time-out and spacing, and files that cannot be taken, each with its reason and the meter unconnected.
// The fields come back in the next run of the program.
TEST(BenchWindow, ConnectsWithTheProfileFilesAndRemembersThem) {
    BenchWindow sw;
    ASSERT_TRUE(sw.connect());
    const struct {
        const char* file;
        QByteArray text;    // none: no such file
        const char* reason; // null: connects
    } rows[] = {
        {"lagging.profile", "measureCurrent=MEASURE:CURRENT:DC?\ntimeout=700\nmeterSpacing=30\n", nullptr},
        {"broken.profile", "timeout=700\nmeasureCurrent\n", "broken.profile: line 2: measureCurrent"},
        {"missing.profile", {}, "missing.profile: No such file or directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        const QString path = sw.dir.filePath(row.file);
        QFile file(path);
        ASSERT_TRUE(row.text.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(row.text) > 0));
        file.close();
        sw.win->findChild<QLineEdit*>("Edit_BenchMeterProfile")->setText(path);
        const bool connected = sw.w->Bench->connectInstruments();
        const QString status = sw.win->findChild<QLabel*>("Label_BenchStatus")->text();
        vx::station::ScpiInstrument* meter = sw.w->Bench->meter();
        EXPECT_TRUE(sw.w->Bench->source());
        if (!row.reason) {
            ASSERT_TRUE(connected && meter) << status.toStdString();
            EXPECT_EQ(meter->profile().measureCurrent, "MEASURE:CURRENT:DC?");
            EXPECT_EQ(meter->profile().timeout, 700ms);
            EXPECT_EQ(meter->profile().meterSpacing, 30ms);
            EXPECT_TRUE(meter->measure(vx::station::Quantity::Current)) << meter->error();
        } else {
            EXPECT_FALSE(connected || meter);
            EXPECT_EQ(status.toStdString(),
                      ("meter: " + path.chopped(qstrlen(row.file))).toStdString() + row.reason);
        }
    }
    sw.w->SaveSettings();
    sw.w->MB1->MBClosePort();
    ASSERT_TRUE(sw.makeWindow({"/QARNEL"}, nullptr));
    QWidget* again = sw.w->Bench->showWindow();
    const std::pair<const char*, QString> remembered[] = {
        {"Edit_BenchMeter", sw.meter},
        {"Edit_BenchSource", sw.source},
        {"Edit_BenchMeterProfile", sw.dir.filePath("missing.profile")},
        {"Edit_BenchSourceProfile", QString()}};
    for (const auto& [name, text] : remembered)
        EXPECT_EQ(again->findChild<QLineEdit*>(name)->text().toStdString(), text.toStdString()) << name;
    sw.w->ApplyLanguage("magyar"); // the labels follow the window's language
    EXPECT_EQ(again->findChild<QPushButton*>("Button_BenchConnect")->text(), "Csatlakozás");
}
