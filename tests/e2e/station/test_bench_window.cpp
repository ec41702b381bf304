// The automatic runs in the window: the bench window's controls against the simulator's unit, meter and
// source, the wizard and the procedure driven through their own pages.
#include "simwindow.h"

#include "app/bench/BenchStation.h"
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

TEST(BenchWindow, RunsTheOutputCalibrationOnItsPageAndStopLeavesTheInputRunUnforced) {
    SimWindow sw;
    const QString meter = sw.dir.filePath("meter"), source = sw.dir.filePath("source");
    ASSERT_TRUE(sw.start({"--scpi-meter", meter.toStdString(), "--scpi-source", source.toStdString()},
                         {"/QARNEL"}, "english"));
    TForm_Main& w = *sw.w;
    BenchStation& bench = *w.Bench;
    QWidget* win = bench.showWindow();
    win->findChild<QLineEdit*>("Edit_BenchMeter")->setText(meter);
    win->findChild<QLineEdit*>("Edit_BenchSource")->setText(source);
    ASSERT_TRUE(bench.connectInstruments());
    win->findChild<QCheckBox*>("CheckBox_BenchStore")->setChecked(true);

    QSignalSpy finished(&bench, &BenchStation::finished);
    ASSERT_TRUE(bench.startOutput());
    ASSERT_TRUE(finished.wait(90000)) << "the run did not end";
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
    ASSERT_TRUE(sw.reply());
    EXPECT_EQ(w.LastReply.ReservedSingle, 0.5);
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
    win->findChild<QPushButton*>("Button_BenchStop")->click();
    EXPECT_FALSE(bench.running());
    EXPECT_EQ(win->findChild<QLabel*>("Label_BenchStatus")->text(), "Stopped: stopped");
    EXPECT_EQ(w.uPWMForce, 0);
    EXPECT_EQ(w.RadioGroup_GainForce->ItemIndex() + w.RadioGroup_DividerForce->ItemIndex(), 0);
    ASSERT_TRUE(sw.reply());
    ASSERT_TRUE(sw.reply());
    EXPECT_EQ(w.LastReply.ReservedSingle, 0.0);
    EXPECT_EQ(w.LastReply.StatusFlags & vx::instrument::kStatusInputUncalibrated,
              vx::instrument::kStatusInputUncalibrated);
}
