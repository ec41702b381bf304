// A calibration bench: the configurator in the maker mode against an uncalibrated vx2207-sim, driven
// as an operator would, with the simulator's meter file as the external meter and its control FIFO
// as the calibrator.
#include "app/Main.h"
#include "instrument/codes.h"
#include "link/mb.h"
#include "simwindow.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace ins = vx::instrument;

namespace {

std::string number(double v) {
    return QByteArray::number(v, 'g', 10).toStdString(); // a full stop whatever the locale
}

class CalibrationBench : public ::testing::Test, protected SimWindow {
protected:
    void start(std::vector<std::string> simArgs) {
        simArgs.insert(simArgs.end(), {"--noise", "0", "--meter", path("meter"), "--control", path("control"),
                                       "--exit-with-parent"});
        ASSERT_TRUE(SimWindow::start(simArgs, {"/QARNEL"}, nullptr));
    }
    std::string path(const char* name) const { return dir.filePath(name).toStdString(); }

    // The external meter, read once the instrument drives the PWM the window forces (or, unforced,
    // the PWM the last reply reported).
    std::map<std::string, double> meter() {
        std::map<std::string, double> m;
        EXPECT_TRUE(until([&] {
            QFile f(dir.filePath("meter"));
            if (!f.open(QIODevice::ReadOnly)) return false;
            m.clear();
            for (const QByteArray& line : f.readAll().split('\n'))
                if (const int eq = line.indexOf('='); eq > 0)
                    m[line.left(eq).toStdString()] = line.mid(eq + 1).toDouble();
            const int pwm = w->uPWMForce != 0 ? w->uPWMForce : w->LastReply.PwmValue;
            return m.count("pwm") && m["pwm"] == pwm;
        }));
        return m;
    }
    // Brings the PWM value to target with the adjusting buttons, as few presses as it takes.
    void pressTo(int target) {
        static constexpr int kSteps[5] = {10000, 1000, 100, 10, 1};
        for (int i = 0; i < 5; ++i) {
            while (target - w->uPWMValue >= kSteps[i])
                w->PWMStepButtons[static_cast<std::size_t>(9 - i)]->click();
            while (w->uPWMValue - target >= kSteps[i])
                w->PWMStepButtons[static_cast<std::size_t>(i)]->click();
        }
    }
    // Finds the PWM value that gives `target` on the meter quantity: two readings on the straight part
    // give the line, the buttons go there, and the last count is settled by looking either side.
    // Returns the exact (real) PWM value the line gives for the target.
    double adjustTo(const char* quantity, double target) {
        w->Button_Out50Percents->click();
        const double y1 = meter()[quantity];
        const int p1 = w->uPWMValue;
        w->PWMStepButtons[0]->click(); // -10 000
        const double y2 = meter()[quantity];
        const double exact = p1 + (target - y1) * (p1 - w->uPWMValue) / (y1 - y2);
        pressTo(static_cast<int>(std::lround(exact)));
        for (int direction : {+1, -1}) {
            for (;;) {
                const double here = std::fabs(meter()[quantity] - target);
                w->PWMStepButtons[direction > 0 ? 5 : 4]->click();
                if (std::fabs(meter()[quantity] - target) < here) continue;
                w->PWMStepButtons[direction > 0 ? 4 : 5]->click();
                break;
            }
        }
        return exact;
    }
    // Applies the calibrator's signal and waits until the instrument measures it and its filter is still.
    void apply(const std::string& command, double signal) {
        const int fd = ::open(path("control").c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        const std::string line = command + "\n";
        ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        ::close(fd);
        settle(signal);
    }
    void settle(double signal) {
        std::int64_t last[2] = {INT64_MIN, INT64_MIN};
        int still = 0;
        ASSERT_TRUE(until(
            [&] {
                const ins::Reply& r = w->LastReply;
                const bool same = r.AdFiltered0 == last[0] && r.AdFiltered1 == last[1];
                last[0] = r.AdFiltered0;
                last[1] = r.AdFiltered1;
                const bool applied =
                    std::fabs(r.ReservedSingle - signal) <= 1e-5 * std::max(1.0, std::fabs(signal));
                still = same && applied ? still + 1 : 0;
                return still >= 2;
            },
            {.replies = 400}))
            << signal;
    }
};

} // namespace

TEST_F(CalibrationBench, OutputWizardCalibratesTheUnit) {
    start({});
    ASSERT_TRUE(w->Label_KimenetNincsKalibralva->isVisibleTo(w->GroupBox_System));
    w->PageControl1->setActivePage(w->TabSheet_OutputCalibration);
    const auto next = [&] { w->SpeedButton_OutputCalibrationNext->click(); };
    double exact[4] = {};
    exact[0] = adjustTo("current_mA", 4.0);
    next();
    exact[1] = adjustTo("current_mA", 20.0);
    next();
    // The current check points: the line through the two ends gives 12 mA in the middle.
    const std::pair<TSpeedButton*, double> currentPoints[] = {
        {w->SpeedButton_Test12mA, 12.0}, {w->SpeedButton_Test4mA, 4.0}, {w->SpeedButton_Test20mA, 20.0}};
    for (const auto& [button, mA] : currentPoints) {
        if (!button->Down()) button->click();
        EXPECT_NEAR(meter()["current_mA"], mA, 0.002) << mA;
    }
    next();
    exact[2] = adjustTo("voltage_V", 2.0);
    next();
    exact[3] = adjustTo("voltage_V", 10.0);
    next();
    EXPECT_TRUE(w->SpeedButton_Test6V->Down());
    EXPECT_NEAR(meter()["voltage_V"], 6.0, 0.001);
    next();
    ASSERT_EQ(w->OutputCalibrationStep(), 7);

    w->SpeedButton_WriteOutputCalibrationToVX->click();
    ASSERT_TRUE(until([&] { return !w->SpeedButton_WriteOutputCalibrationToVX->Down(); }));
    ASSERT_TRUE(
        until([&] { return w->Image_OutputCalibrationOK->isVisibleTo(w->TabSheet_OutputCalibration); }));
    EXPECT_FALSE(w->Label_KimenetNincsKalibralva->isVisibleTo(w->GroupBox_System));
    const int stored[4] = {w->uOut4mA, w->uOut20mA, w->uOut2V, w->uOut10V};
    for (int i = 0; i < 4; ++i)
        EXPECT_LE(std::fabs(stored[i] - exact[i]), 1.0) << i;

    // Back to normal work: the unit drives its 4..20 mA output from its own measurement.
    w->PageControl1->setActivePage(w->TabSheet_Uzemmod);
    w->RadioGroup_KimenetTipusa->setItemIndex(0);
    w->Edit_OutputLow->setText("4");
    w->Edit_OutputHigh->setText("20");
    w->SpeedButton_WriteSettings->setDown(true);
    ASSERT_TRUE(
        until([&] { return !w->SpeedButton_WriteSettings->Down() && !w->SpeedButton_Reset->Down(); }));
    ASSERT_TRUE(reply());
    EXPECT_EQ(w->uPWMForce, 0);
    const auto m = meter();
    EXPECT_NEAR(m.at("current_mA"), 4.0 + 16.0 * w->LastReply.OutputFraction, 0.016);
}

TEST_F(CalibrationBench, OutputCheckFollowsThePercentage) {
    start({"--calibrated"}); // factory output scale: current, 0 .. 22 mA
    w->PageControl1->setActivePage(w->TabSheet_KimenetEllenorzes);
    int lastPwm = -1;
    for (int position = 1; position <= 20; ++position) {
        w->TrackBar_OutCheck->setValue(position);
        // The request under way may have gone out before the change; the next one carries it.
        ASSERT_TRUE(reply());
        ASSERT_TRUE(reply());
        EXPECT_EQ(w->Label_CalibrationStep->text(), "255");
        const int pwm = w->LastReply.PwmValue;
        EXPECT_GT(pwm, lastPwm) << position;
        EXPECT_EQ(w->Label_PWMErtek->text().remove(' ').toInt(), pwm);
        EXPECT_NEAR(meter()["current_mA"], 22.0 * position * 5 / 100, 0.022) << position;
        lastPwm = pwm;
    }
}

TEST_F(CalibrationBench, InputProcedureCalibratesEveryRange) {
    start({});
    w->PageControl1->setActivePage(w->TabSheet_Test);
    // Each range, forced, measuring three signals; the error in units of 0.05 % of the range's span.
    const auto worstError = [&](const std::vector<double>& shares) {
        double worst = 0;
        for (int item = 1; item <= 7; ++item) {
            const ins::InputRange& range = ins::kInputRanges[static_cast<std::size_t>(item - 1)];
            w->RadioGroup_MereshatarForce->setItemIndex(item);
            for (double share : shares) {
                const double signal = share * range.referenceValue;
                apply("signal " + number(signal), signal);
                if (HasFatalFailure()) return worst;
                EXPECT_EQ(w->LastReply.InputRangeIndex, item - 1);
                worst =
                    std::max(worst, std::fabs(w->LastReply.InputValue - signal) / (0.0005 * 2 * range.limit));
            }
        }
        return worst;
    };
    EXPECT_GT(worstError({0.9}), 1.0) << "an uncalibrated unit should measure visibly wrong";

    w->PageControl1->setActivePage(w->TabSheet_InputCalibration);
    for (const vx::app::InputCalibrationRow& row : vx::app::kInputCalibrationTable) {
        ASSERT_TRUE(until([&] { return w->InCal.step == row.state + 1; }));
        const double reference = ins::kInputRanges[static_cast<std::size_t>(row.pair - 1)].referenceValue;
        if (row.high)
            apply("signal " + number(reference), reference);
        else
            apply(row.channel == 0 ? "open" : "short", 0.0);
        w->SpeedButton_InputCalibrationNext->click();
        ASSERT_TRUE(until([&] { return w->InCal.step != row.state + 1; }));
    }
    ASSERT_TRUE(until([&] { return w->SpeedButton_ADCalBeiras->isVisibleTo(w->TabSheet_InputCalibration); }));
    EXPECT_EQ(w->ListBox_InputCalibrated->count(), 14);
    w->SpeedButton_ADCalBeiras->click();
    ASSERT_TRUE(until([&] { return !w->SpeedButton_ADCalBeiras->Down(); }));
    ASSERT_TRUE(
        until([&] { return w->Image_InputCalibrationOK->isVisibleTo(w->TabSheet_InputCalibration); }));
    EXPECT_FALSE(w->Label_ADNincsKalibralva->isVisibleTo(w->GroupBox_System));

    w->PageControl1->setActivePage(w->TabSheet_Test);
    EXPECT_LE(worstError({-0.5, 0.1, 0.9}), 1.0);
}

TEST_F(CalibrationBench, TestPageCommandsAreCarriedOut) {
    start({"--calibrated"});
    w->PageControl1->setActivePage(w->TabSheet_Test);
    // Each forcing reaches the instrument: the path it measures on shows in the reply.
    struct Force {
        int channel, gain, divider, range;     // radio items
        int rangeIndex, gainCh0, gainCh1, div; // the reply
    } forces[] = {
        {0, 0, 0, 5, 4, 1, 4, 2},  // "40 V" with its divider
        {0, 0, 0, 7, 6, 1, 2, 2},  // "20 mA" on CH0, the divider shown on CH1
        {1, 5, 1, 0, 1, 1, 16, 0}, // CH1, Au = 16, minimum division
        {0, 3, 0, 0, 6, 4, 2, 0},  // CH0, Au = 4
    };
    for (const Force& f : forces) {
        w->PageControl1->setActivePage(w->TabSheet_Uzemmod); // every page switch releases the forcing
        w->PageControl1->setActivePage(w->TabSheet_Test);
        w->RadioGroup_MereshatarForce->setItemIndex(f.range);
        w->RadioGroup_GainForceCH->setItemIndex(f.channel);
        w->RadioGroup_GainForce->setItemIndex(f.gain);
        if (f.divider) w->RadioGroup_DividerForce->setItemIndex(f.divider);
        ASSERT_TRUE(reply());
        ASSERT_TRUE(reply());
        const vx::instrument::Reply& r = w->LastReply;
        EXPECT_EQ((std::array<int, 4>{r.InputRangeIndex, r.GainCh0, r.GainCh1, r.uDivider}),
                  (std::array<int, 4>{f.rangeIndex, f.gainCh0, f.gainCh1, f.div}))
            << f.channel << f.gain << f.divider << f.range;
    }
    EXPECT_EQ(w->Label_ErositesCH0->text(), "4");

    w->Button_MinMaxTorles1Click();
    ASSERT_TRUE(reply());
    EXPECT_EQ(w->Label_Min1->text().remove(' ').toInt(), w->Label_Max1->text().remove(' ').toInt());

    const std::uint8_t restarts = w->LastReply.ReservedByte;
    w->SpeedButton_HomersekletMinMaxTorlese->click();
    w->SpeedButton_FRAMTorlesReset->click(); // takes over: only the FRAM clear goes out
    ASSERT_TRUE(until([&] { return !w->SpeedButton_FRAMTorlesReset->Down(); })); // on the acknowledging reply
    EXPECT_GT(w->LastReply.ReservedByte, restarts);
    EXPECT_TRUE(w->LastReply.StatusFlags & ins::kStatusInputUncalibrated); // factory data again
    EXPECT_EQ(w->LastReply.DataSourceRam1, ins::kSourceFactory);

    w->SpeedButton_HomersekletMinMaxTorlese->click();
    ASSERT_TRUE(until([&] { return !w->SpeedButton_HomersekletMinMaxTorlese->Down(); }));
    EXPECT_EQ(w->LastReply.TemperatureMin, w->LastReply.TemperatureMax);
}

namespace {
QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}
} // namespace

TEST_F(CalibrationBench, CommandsOfOneUnitNeverReachTheNext) {
    start({"--calibrated"});
    w->MB1->MBClosePort(); // the link is down
    w->PageControl1->setActivePage(w->TabSheet_Test);
    w->SpeedButton_FRAMTorlesReset->click();
    EXPECT_FALSE(w->SpeedButton_FRAMTorlesReset->Down());
    w->PageControl1->setActivePage(w->TabSheet_OutputCalibration);
    for (int i = 0; i < 6; ++i)
        w->SpeedButton_OutputCalibrationNext->click();
    w->SpeedButton_WriteOutputCalibrationToVX->click();
    EXPECT_FALSE(w->SpeedButton_WriteOutputCalibrationToVX->Down());
    EXPECT_FALSE(w->Label_CommandNotice->text().isEmpty());

    // The next unit on the bench: its memory stays exactly as it was.
    const QString state = dir.filePath("second.state");
    vx::sim::SimProcess second(
        VX2207_SIM, {"--calibrated", "--seed", "77", "--state", state.toStdString(), "--exit-with-parent"});
    ASSERT_TRUE(second.started());
    const QByteArray before = contents(state);
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(second.devicePath()));
    ASSERT_TRUE(w->MB1->MBOpenPort(QString::fromStdString(second.devicePath())));
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(reply());
    EXPECT_EQ(w->OutputCalibrationStep(), 1) << "the wizard starts afresh on the new connection";
    EXPECT_EQ(w->LastReply.StatusFlags & (ins::kStatusInputUncalibrated | ins::kStatusOutputUncalibrated), 0);
    EXPECT_EQ(contents(state), before);
    w->MB1->MBClosePort();
}

TEST_F(CalibrationBench, NextTakesOnlyAFreshReading) {
    start({});
    w->PageControl1->setActivePage(w->TabSheet_InputCalibration);
    apply("short", 0.0);
    ASSERT_EQ(w->InCal.step, 11);
    const std::int32_t settled = w->LastReply.AdFiltered1;
    ::kill(sim->pid(), SIGSTOP);
    ASSERT_TRUE(until([&] { return !w->Fresh.reading(); }, {.ms = 10000}));
    w->LastReply.AdFiltered1 = settled + 4242; // whatever the window still holds is not taken
    w->SpeedButton_InputCalibrationNext->click();
    QTest::qWait(400);
    EXPECT_EQ(w->InCal.step, 11);
    EXPECT_EQ(w->ListBox_InputCalibrated->count(), 0);
    EXPECT_TRUE(w->Label_InputCalibrationWaiting->isVisibleTo(w->TabSheet_InputCalibration));
    ::kill(sim->pid(), SIGCONT);
    ASSERT_TRUE(until([&] { return w->InCal.step != 11; }, {.ms = 10000}));
    EXPECT_EQ(w->Low[0], settled);
    EXPECT_EQ(w->ListBox_InputCalibrated->count(), 1);
    EXPECT_FALSE(w->Label_InputCalibrationWaiting->isVisibleTo(w->TabSheet_InputCalibration));
}
