// The simulator as witness: an uncalibrated unit checked as found, calibrated with its own true
// constants, checked as left, and the record saved with its certificate. The errors on the record must
// be the unit's seeded errors before, and within tolerance after.
#include "app/records/RecordsWindow.h"
#include "sim/model.h"
#include "simwindow.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cmath>

namespace rec = vx::records;
namespace sim = vx::sim;

namespace {
constexpr double kOutputErrorResolution = 0.004; // % of span: two PWM counts of rounding
constexpr double kInputErrorResolution = 1e-4;   // % of span: the reply's single-precision reading

struct Witness : ::testing::Test, SimWindow {
    std::string file(const char* name) const { return dir.filePath(name).toStdString(); }
    static constexpr WaitBound kSteps{.replies = 200};
    // Walks one check as the engineer would: types the meter's reading on the output, applies the
    // calibrator's signal and confirms on the input.
    void check(vx::app::records::RecordsWindow& r, bool output, rec::Phase phase) {
        r.ComboBox_Phase->setCurrentIndex(phase == rec::Phase::AsLeft ? 1 : 0);
        ASSERT_EQ(r.startVerify(output), "");
        while (r.procedure().running()) {
            const rec::CheckPoint point = *r.procedure().current();
            const std::size_t index = r.procedure().index();
            if (output) {
                ASSERT_TRUE(until([&] { return r.Button_RecordPoint->isEnabled(); }, kSteps));
                sim::OutputLevel m;
                ASSERT_TRUE(
                    until([&] { return sim::readMeter(file("meter"), &m) && m.pwm == w->LastReply.PwmValue; },
                          kSteps));
                r.Edit_Reference->setText(QString::number(m.currentMa, 'f', 6));
            } else {
                ASSERT_TRUE(sim::sendControl(file("control"),
                                             "signal " + QByteArray::number(point.nominal).toStdString()));
            }
            r.Button_RecordPoint->click();
            ASSERT_TRUE(
                until([&] { return r.procedure().index() != index || !r.procedure().running(); }, kSteps))
                << index;
        }
    }
};
} // namespace

TEST_F(Witness, AsFoundCalibrateAsLeft) {
    ASSERT_TRUE(start({"--noise", "0", "--seed", "2207", "--meter", file("meter"), "--control",
                       file("control"), "--exit-with-parent"},
                      {"/QARNEL"}, "english"));
    ASSERT_TRUE(w->Records->Menu_Calibration->menuAction()->isVisible()); // maker mode only
    w->Records->setPaths(dir.filePath("history.sqlite"), dir.filePath("profile.ini"), dir.filePath("out"));
    // The output as most units leave the factory: 4 .. 20 mA.
    w->RadioGroup_KimenetTipusa->setItemIndex(0);
    w->Edit_OutputLow->setText("4");
    w->Edit_OutputHigh->setText("20");
    w->SpeedButton_WriteSettings->setDown(true);
    ASSERT_TRUE(until([&] { return !w->SpeedButton_WriteSettings->Down() && !w->SpeedButton_Reset->Down(); },
                      kSteps));

    vx::app::records::RecordsWindow* r = w->Records->showRun();
    ASSERT_TRUE(r);
    r->Edit_Serial->setText(" SN-W-2207 "); // as a scanner may type it
    r->Edit_Engineer->setText("Szabó Anna");
    r->Edit_Ambient->setText("23.5");
    r->Button_AddReference->click();
    const char* reference[] = {"Bench DMM", "DMM-1", "CAL-7", "2099-12-31"};
    for (int c = 0; c < 4; ++c)
        r->Table_References->item(0, c)->setText(reference[c]);

    for (bool output : {true, false})
        check(*r, output, rec::Phase::AsFound);
    ASSERT_FALSE(HasFatalFailure());

    // Calibration with the unit's own true constants, stored as the service pages store them.
    const sim::Unit unit = sim::Unit::fromSeed(2207);
    const sim::Memory truth = sim::calibratedMemory(unit, 0, 2026, 12, 9);
    std::tie(w->uOut4mA, w->uOut20mA, w->uOut2V, w->uOut10V) =
        std::tuple{truth.out4mA, truth.out20mA, truth.out2V, truth.out10V};
    w->Low = truth.low;
    w->High = truth.high;
    for (TSpeedButton* store : {w->SpeedButton_WriteOutputCalibrationToVX, w->SpeedButton_ADCalBeiras}) {
        store->click();
        ASSERT_TRUE(until([&] { return !store->Down(); }, kSteps));
    }
    ASSERT_EQ(r->run().constants.size(), 2u);
    EXPECT_EQ(
        r->run().constants[0].values,
        (std::vector<std::int64_t>{std::int64_t{truth.out4mA}, truth.out20mA, truth.out2V, truth.out10V}));
    EXPECT_EQ(r->run().constants[1].values[6], truth.low[6]);

    for (bool output : {true, false})
        check(*r, output, rec::Phase::AsLeft);
    ASSERT_FALSE(HasFatalFailure());

    const rec::Tolerances tolerances;
    const rec::Run& run = r->run();
    ASSERT_EQ(run.points.size(), 2u * (5 + 4));
    for (const rec::Point& p : run.points) {
        const double signal = p.check.nominal;
        double seeded = 0, resolution = kInputErrorResolution;
        if (p.check.range < 0) {
            // Uncalibrated, the unit drives the nominal curve's PWM through its own curve.
            const double nominalPwm = signal / sim::kNominalFullScaleMa * 65535;
            seeded = (unit.current.at(nominalPwm) - signal) / p.check.span * 100;
            resolution = kOutputErrorResolution;
        } else {
            seeded = (unit.inputCounts(p.check.range, signal) / sim::kNominalSpan * 20 - signal) /
                     p.check.span * 100;
        }
        if (p.phase == rec::Phase::AsFound) {
            EXPECT_NEAR(p.result.errorPercent, seeded, resolution) << signal;
            EXPECT_EQ(p.result.verdict, std::fabs(seeded) <= tolerances.of(p.check.quantity)
                                            ? rec::Verdict::Pass
                                            : rec::Verdict::Fail);
        } else {
            EXPECT_LE(std::fabs(p.result.errorPercent), tolerances.of(p.check.quantity)) << signal;
            EXPECT_EQ(p.result.verdict, rec::Verdict::Pass) << signal;
        }
    }
    EXPECT_FALSE(run.passed(rec::Phase::AsFound));

    r->Button_SaveRecord->click();
    EXPECT_TRUE(r->run().points.empty())
        << r->Label_Status->text().toStdString(); // saved: a new record begins
    vx::app::records::HistoryWindow* h = w->Records->showHistory();
    ASSERT_EQ(h->Tree_Runs->topLevelItemCount(), 1);
    EXPECT_EQ(h->Tree_Runs->topLevelItem(0)->text(0), "SN-W-2207");
    const QString certificate = h->Tree_Runs->topLevelItem(0)->child(0)->text(0);
    for (const char* suffix : {".pdf", ".json", ".csv"})
        EXPECT_TRUE(QFile::exists(dir.filePath("out/" + certificate + suffix))) << suffix;
    h->Tree_Runs->setCurrentItem(h->Tree_Runs->topLevelItem(0)->child(0));
    EXPECT_TRUE(h->exportSelected(dir.filePath("again")).contains(certificate));
    EXPECT_TRUE(QFile::exists(dir.filePath("again/" + certificate + ".pdf")));
}
