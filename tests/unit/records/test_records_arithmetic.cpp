// The records' arithmetic: errors in percent of span with their sign, the decision rules at and
// around their limits, the check points of each configuration, and the product profile.
#include "app/records/VerifyProcedure.h"
#include "instrument/codes.h"
#include "records/profile.h"
#include "records/run.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <fstream>
#include <limits>

using namespace vx::records;

TEST(RecordsArithmetic, ErrorAndVerdict) {
    const DecisionRule simple, guarded{DecisionRule::Kind::GuardBand, 0.02};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double expected, measured, span, tolerance;
        DecisionRule rule;
        double error, limit;
        Verdict verdict;
    } cases[] = {
        {4, 4.016, 16, 0.1, simple, 0.1, 0.1, Verdict::Pass},       // on the limit
        {4, 3.984, 16, 0.1, simple, -0.1, 0.1, Verdict::Pass},      // low side, negative
        {4, 4.0161, 16, 0.1, simple, 0.100625, 0.1, Verdict::Fail}, // just beyond
        {12, 11.98, 16, 0.1, simple, -0.125, 0.1, Verdict::Fail},
        {10, 10.008, 10, 0.1, guarded, 0.08, 0.08, Verdict::Pass}, // on the guarded limit
        {10, 9.991, 10, 0.1, guarded, -0.09, 0.08, Verdict::Fail}, // inside tolerance, not the band
        {0, 0, 10, 0.01, {DecisionRule::Kind::GuardBand, 0.05}, 0, 0, Verdict::Pass}, // band over tolerance
        {0, 1e-6, 10, 0.01, {DecisionRule::Kind::GuardBand, 0.05}, 1e-5, 0, Verdict::Fail},
        {0, 1, 0, 0.1, simple, 0, 0, Verdict::Invalid}, // no span
        {0, 1, -5, 0.1, simple, 0, 0, Verdict::Invalid},
        {0, nan, 10, 0.1, simple, 0, 0, Verdict::Invalid},
        {0, 1, 10, -0.1, simple, 0, 0, Verdict::Invalid},
        {0, 1e308, 1e-308, 0.1, simple, 0, 0, Verdict::Invalid}, // overflowing error
    };
    for (const Case& c : cases) {
        const Evaluation e = evaluate(c.expected, c.measured, c.span, c.tolerance, c.rule);
        EXPECT_NEAR(e.errorPercent, c.error, 1e-9) << c.measured;
        EXPECT_NEAR(e.limit, c.limit, 1e-12) << c.measured;
        EXPECT_EQ(e.verdict, c.verdict) << c.measured;
    }
    // The output's error is the meter against the nominal, the input's the reading against the signal.
    const CheckPoint out{Quantity::OutputCurrent, -1, 50, 12, 16, "mA"},
        inp{Quantity::InputVolt, 3, 50, 5, 20, "V"};
    EXPECT_NEAR(makePoint(Phase::AsFound, out, 12.08, 12, {}, simple).result.errorPercent, 0.5, 1e-9);
    EXPECT_NEAR(makePoint(Phase::AsFound, inp, 5, 5.1, {}, simple).result.errorPercent, 0.5, 1e-9);
}

TEST(RecordsArithmetic, CheckPoints) {
    struct Case {
        std::vector<CheckPoint> plan;
        std::size_t size;
        std::vector<int> ranges; // first and last range, -1 for the output
        double firstNominal, lastNominal, span;
    } cases[] = {
        {outputPlan(100, 4, 20), 5, {-1, -1}, 4, 20, 16},
        {outputPlan(101, 0, 10), 5, {-1, -1}, 0, 10, 10},
        {outputPlan(100, 5, 5), 0, {}, 0, 0, 0},
        {outputPlan(100, 0, std::numeric_limits<double>::infinity()), 0, {}, 0, 0, 0},
        {inputPlan(100, 4, 20), 4, {6, 6}, -20, 20, 50},
        {inputPlan(101, -0.1, 0.15), 4, {0, 0}, -0.2, 0.2, 0.4},
        {inputPlan(101, 0, 10), 16, {0, 3}, -0.2, 10, 20},
        {inputPlan(101, -400, 0), 24, {0, 5}, -0.2, 125, 250},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.plan.size(), c.size);
        if (c.plan.empty()) continue;
        EXPECT_EQ(c.plan.front().range, c.ranges[0]);
        EXPECT_EQ(c.plan.back().range, c.ranges[1]);
        EXPECT_DOUBLE_EQ(c.plan.front().nominal, c.firstNominal);
        EXPECT_DOUBLE_EQ(c.plan.back().nominal, c.lastNominal);
        EXPECT_DOUBLE_EQ(c.plan.back().span, c.span);
    }
    EXPECT_EQ(outputPlan(101, 0, 10)[1].quantity, Quantity::OutputVoltage);
    EXPECT_EQ(inputPlan(101, 0, 10)[0].quantity, Quantity::InputMillivolt);
    EXPECT_EQ(inputPlan(101, 0, 10)[15].quantity, Quantity::InputVolt);
}

TEST(RecordsArithmetic, RulesReferencesAndProfile) {
    for (const char* text : {"simple", "guard-band 0.02", "guard-band 0"})
        EXPECT_EQ(ruleText(*parseRule(text)), text);
    for (const char* text :
         {"", "guard-band", "guard-band -1", "guard-band 0,02", "guard-band nan", "strict"})
        EXPECT_FALSE(parseRule(text)) << text;
    EXPECT_FALSE(referenceExpired({"M", "1", "C", "2026-12-09"}, "2026-12-09"));
    EXPECT_TRUE(referenceExpired({"M", "1", "C", "2026-12-08"}, "2026-12-09"));
    EXPECT_TRUE(referenceExpired({"M", "1", "C", "9.12.2026"}, "2026-12-09"));
    // A bench instrument's identity names it as a reference; its certificate is the engineer's to add.
    EXPECT_EQ(referenceFromIdentity(" ACME , 34465A , MY5 , A.02\r"),
              (Reference{"ACME 34465A", "MY5", "", ""}));
    EXPECT_EQ(referenceFromIdentity(",34465A,MY5"), (Reference{"34465A", "MY5", "", ""}));
    for (const char* unnamed : {"ACME,34465A", "ACME,34465A,,1.0", ""})
        EXPECT_FALSE(referenceFromIdentity(unnamed)) << unnamed;

    // A Hungarian desktop's decimal comma changes nothing in the profile's numbers.
    ASSERT_TRUE(std::setlocale(LC_ALL, "hu_HU.UTF-8"));
    const std::string path = ::testing::TempDir() + "vx-profile.ini";
    std::ofstream(path)
        << "[Tolerances]\ninput_ma=0.2\noutput_current=-1\ninput_v=0,3\n[Decision]\nrule=guard-band 0.01\n";
    const Profile p = loadProfile(path);
    std::setlocale(LC_ALL, "C");
    EXPECT_DOUBLE_EQ(p.tolerances.of(Quantity::InputCurrent), 0.2);
    EXPECT_DOUBLE_EQ(p.tolerances.of(Quantity::OutputCurrent), 0.1); // refused: negative
    EXPECT_DOUBLE_EQ(p.tolerances.of(Quantity::InputVolt), 0.05);    // refused: not a full stop
    EXPECT_EQ(p.rule, (DecisionRule{DecisionRule::Kind::GuardBand, 0.01}));
    EXPECT_EQ(loadProfile(path + ".missing").rule, DecisionRule{});
}

TEST(RecordsArithmetic, InputReadingOnlyFreshAndSettled) {
    const CheckPoint point{Quantity::InputCurrent, 6, 100, 20, 50, "mA"};
    struct Reply {
        int range;
        double value;
        bool rangeError;
        bool forced = true; // the request it answers carried the point's range
    };
    struct Case {
        std::vector<Reply> replies;
        int taken; // index of the reply the reading comes from, -1 for none
    } cases[] = {
        {{{6, 20, false}, {6, 20, false}, {6, 20, false}}, 2}, // the first answers the request under way
        {{{6, 20, false}, {6, 5, false}, {6, 20, false}, {6, 20, false}}, 3}, // not yet settled
        {{{6, 20, false}, {6, 20, false}, {6, 20.0005, false}}, 2},           // within 0.002 % of the span
        {{{6, 20, false}, {6, 20, false}, {6, 20.002, false}}, -1},
        {{{6, 20, false}, {3, 20, false}, {6, 20, false}}, -1}, // another range in between
        {{{6, 20, false}, {6, 20, false}, {6, 20, true}, {6, 20, false}}, -1},
        {{{6, 20, false}, {6, 20, false, false}, {6, 20, false}, {6, 20, false}}, 3}, // a stale one between
    };
    const auto request = [](bool forced) {
        vx::instrument::Request q;
        q.GainForceCode = vx::instrument::gainForceCode(0, false);
        q.DividerForceCode = vx::instrument::dividerForceCode(0);
        q.RangeForceCode = vx::instrument::rangeForceCode(forced ? 7 : 0);
        return q;
    };
    for (const Case& c : cases) {
        vx::app::records::SettledReading gate;
        gate.requestSent(request(true)); // before the signal was applied
        gate.arm(point, {});
        int taken = -1;
        for (std::size_t i = 0; i < c.replies.size() && taken < 0; ++i) {
            if (i > 0) gate.requestSent(request(c.replies[i].forced));
            vx::instrument::Reply r;
            r.InputRangeIndex = static_cast<std::uint8_t>(c.replies[i].range);
            r.InputValue = c.replies[i].value;
            if (gate.offer(r, c.replies[i].rangeError)) taken = static_cast<int>(i);
        }
        EXPECT_EQ(taken, c.taken) << c.replies.size();
        EXPECT_EQ(gate.armed(), taken < 0);
    }
}

TEST(RecordsArithmetic, UnitFromReplyAndCertificateRefusal) {
    vx::instrument::Reply r;
    r.FirmwareYear = 2014, r.FirmwareMonth = 10, r.FirmwareDay = 6;
    r.CalibrationYear = 2026, r.CalibrationMonth = 2, r.CalibrationDay = 30; // no such day
    r.Temperature = -250, r.TemperatureMin = 21.5, r.TemperatureMax = 40;
    UnitInfo u = unitFromReply(r, "S1");
    EXPECT_EQ(u.variant, "VX2207 V");
    EXPECT_EQ(u.firmware, "V2014-10-06");
    EXPECT_EQ(u.calibrationDate, "");
    EXPECT_EQ(u.temperature, std::nullopt);
    EXPECT_EQ(u.temperatureMin, 21.5);
    r.CalibrationDay = 3;
    EXPECT_EQ(unitFromReply(r, "S1").calibrationDate, "2026-02-03");

    vx::records::Run run;
    run.engineer = "E";
    run.references = {{"DMM", "77", "C", "2026-06-30"}};
    EXPECT_EQ(run.certificateRefusal("2026-06-30"), "");
    EXPECT_NE(run.certificateRefusal("2026-07-01").find("was due on 2026-06-30"), std::string::npos);
    run.trial = true;
    EXPECT_EQ(run.certificateRefusal("2026-07-01"), "");
    run.trial = false;
    run.engineer.clear();
    EXPECT_EQ(run.certificateRefusal("2026-01-01"), "The engineer's name is missing.");
}
