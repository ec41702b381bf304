#include "station/autocal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace vx::station;
using Kind = OutputCommand::Kind;

namespace {

using Stage = std::function<double(int)>;

// A straight output line through the unit's offset with its own gain, limited as the driver limits it.
Stage line(double offset, double full, double limit) {
    return [=](int pwm) { return std::clamp(offset + full * pwm / 65535.0, 0.0, limit); };
}

// Walks the output machine, doing with each command what the window does. Returns the last command.
OutputCommand walk(const Stage& current, const Stage& voltage, vx::app::OutputCalibrationValues& v,
                   bool store) {
    OutputAutoCalibration m(store);
    OutputCommand c = m.start();
    int sent = 0;
    for (int guard = 0; guard < 500; ++guard) {
        if (c.kind == Kind::SetPwm || c.kind == Kind::Check) {
            sent = c.kind == Kind::SetPwm ? c.pwm : vx::app::checkPointValue(c.point, v);
            c = m.reading(c.quantity == Quantity::Current ? current(sent) : voltage(sent));
        } else if (c.kind == Kind::Next) {
            vx::app::outputCalibrationNext(m.step(), vx::app::pwmForceOf(sent), v);
            c = m.done();
        } else {
            return c;
        }
    }
    return {};
}

} // namespace

TEST(AutoOutputCalibration, FindsEachTargetWithinOneCountOrSaysWhyNot) {
    const struct Case {
        const char* name;
        Stage current, voltage;
        Kind end;
        const char* error;
    } cases[] = {
        {"nominal", line(0, 0.024, 0.022), line(0, 12, 10.5), Kind::Finished, ""},
        {"high gain, offset", line(0.0004, 0.0249, 0.022), line(0.2, 12.4, 10.5), Kind::Finished, ""},
        {"low gain, negative offset", line(-0.0003, 0.0231, 0.022), line(-0.15, 11.6, 10.5), Kind::Finished,
         ""},
        {"output stuck", [](int) { return 0.0; }, line(0, 12, 10.5), Kind::Failed,
         "step 1: the output does not follow"},
        {"bent voltage line", line(0, 0.024, 0.022), [](int p) { return 12.0 * std::pow(p / 65535.0, 1.1); },
         Kind::Failed, "step 6: the mid-point reads"},
        {"current cannot reach 20 mA", line(0, 0.018, 0.018), line(0, 12, 10.5), Kind::Failed,
         "step 2: no PWM value"},
    };
    for (const Case& c : cases) {
        vx::app::OutputCalibrationValues v;
        const OutputCommand end = walk(c.current, c.voltage, v, false);
        EXPECT_EQ(end.kind, c.end) << c.name << ": " << end.error;
        EXPECT_NE(end.error.find(c.error), std::string::npos) << c.name << ": " << end.error;
        if (c.end != Kind::Finished) continue;
        // Without noise the search ends on a best count itself (of two, at a tie), found here by brute force.
        const auto best = [](const Stage& s, int found, double target) {
            double least = 1e9;
            for (int p = 1; p <= 65535; ++p)
                least = std::min(least, std::fabs(s(p) - target));
            return std::fabs(s(found) - target) <= least + 1e-15;
        };
        EXPECT_TRUE(best(c.current, v.out4mA, 0.004)) << c.name << " " << v.out4mA;
        EXPECT_TRUE(best(c.current, v.out20mA, 0.020)) << c.name << " " << v.out20mA;
        EXPECT_TRUE(best(c.voltage, v.out2V, 2.0)) << c.name << " " << v.out2V;
        EXPECT_TRUE(best(c.voltage, v.out10V, 10.0)) << c.name << " " << v.out10V;
    }
    vx::app::OutputCalibrationValues v;
    EXPECT_EQ(walk(line(0, 0.024, 0.022), line(0, 12, 10.5), v, true).kind, Kind::Store);
}

TEST(AutoInputCalibration, EachStepsSignalComesFromItsTextsAndStaysInItsRange) {
    using S = SourceSetting::Kind;
    const SourceSetting expected[] = {
        {S::Short, 0},     {S::Short, 0},     {S::Short, 0}, {S::Voltage, 0.2}, {S::Voltage, 0.5},
        {S::Voltage, 2.5}, {S::Short, 0},     {S::Short, 0}, {S::Short, 0},     {S::Voltage, 10},
        {S::Voltage, 50},  {S::Voltage, 125}, {S::Off, 0},   {S::Current, 0.02}};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        ASSERT_TRUE(inputSignalTable()[i].has_value()) << i;
        EXPECT_EQ(inputSignalTable()[i]->kind, expected[i].kind) << i;
        EXPECT_DOUBLE_EQ(inputSignalTable()[i]->value, expected[i].value) << i;
    }
    const auto& r10V = vx::instrument::kInputRanges[3];
    const auto& r25mA = vx::instrument::kInputRanges[6];
    const char* T6 = vx::app::inputCalibrationInstruction(6);
    const char* T8 = vx::app::inputCalibrationInstruction(8);
    const struct {
        const char* heading;
        const char* instruction;
        const vx::instrument::InputRange& range;
        const char* error;
    } refused[] = {
        {"Uin2 1/3 végérték kalibrálás: 125 V", T6, r10V, "refused: \"Uin2 1/3 végérték kalibrálás: 125 V\""},
        {"Iin végérték kalibrálás: 30 mA", T8, r25mA, "lies beyond the range -25 mA ... +25 mA"},
        {"Iin végérték kalibrálás: 20 mA", T6, r25mA, "no source setting"},
        {"Uin2 1/3 végérték kalibrálás: 10 V", T8, r10V, "no source setting"},
        {"Uin2 1/3 végérték kalibrálás: 10", T6, r10V, "no source setting"},
        {"Valami más", "Nyomjon Next gombot.", r10V, "no source setting"}};
    for (const auto& r : refused) {
        std::string error;
        EXPECT_FALSE(sourceForStep(r.heading, r.instruction, r.range, &error)) << r.heading;
        EXPECT_NE(error.find(r.error), std::string::npos) << error;
    }
}

TEST(AutoInputCalibration, TakesASettledFreshReadingThenMovesOnAndClosesWithTheSourceOff) {
    using K = InputCommand::Kind;
    InputAutoCalibration m(true, 100, 5);
    EXPECT_EQ(m.shown(11).source.kind, SourceSetting::Kind::Short);
    EXPECT_EQ(m.sourceSet().kind, K::Wait);
    // Settled only when two readings in a row lie within 100 counts.
    const struct {
        std::int32_t counts;
        K kind;
    } readings[] = {{0, K::Wait}, {9000, K::Wait}, {9150, K::Wait}, {9250, K::Next}};
    for (const auto& r : readings)
        EXPECT_EQ(m.reading(r.counts).kind, r.kind) << r.counts;
    EXPECT_EQ(m.shown(141).source, (SourceSetting{SourceSetting::Kind::Current, 0.02}));
    EXPECT_EQ(m.sourceSet().channel, 0);
    for (int i = 0; i < 4; ++i)
        m.reading(i * 1000);
    const InputCommand restless = m.reading(5000);
    EXPECT_EQ(restless.kind, K::Failed);
    EXPECT_EQ(restless.error,
              "input calibration, Iin végérték kalibrálás: 20 mA: the reading does not settle");
    EXPECT_EQ(m.shown(0).source.kind, SourceSetting::Kind::Off);
    EXPECT_EQ(m.sourceSet().kind, K::Store);
    EXPECT_EQ(m.shown(25).kind, K::Failed);
}

TEST(AutoOutputCalibration, OneCountStepsSettleWhereTheSecantStopsOneCountOff) {
    // The current stage's slope grows by a tenth just below 4 mA: the secant, drawn across the bend,
    // stops one count below (above) the best value; the target lies between two counts.
    const struct { int bend, best; } cases[] = {{10700, 10902}, {10735, 10905}};
    for (const auto& c : cases) {
        const Stage bent = [b = c.bend](int p) { return 0.024 / 65535 * (p < b ? p : b + 1.1 * (p - b)); };
        vx::app::OutputCalibrationValues v;
        EXPECT_EQ(walk(bent, line(0, 12, 10.5), v, false).kind, Kind::Finished) << c.bend;
        EXPECT_EQ(v.out4mA, c.best) << c.bend;
    }
}
