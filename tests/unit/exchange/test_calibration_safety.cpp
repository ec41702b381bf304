// What keeps wrong values out of an instrument: command bits only for an answering unit, readings
// only from replies to the step's forcing, and calibration sets that can be right.
#include "app/CalibrationChecks.h"
#include "app/CommandGuard.h"
#include "app/FreshReading.h"
#include "instrument/codes.h"

#include <gtest/gtest.h>

using namespace vx::app;
namespace ins = vx::instrument;

TEST(CommandGuard, CommandsGoOnlyToAUnitThatHasAnsweredOnThisConnection) {
    using O = CommandGuard::Outcome;
    enum Event { Open, Close, Reply, Bad, None };
    struct Step {
        Event event;
        CommandRelease release;
        bool answering;
    } steps[] = {{Reply, CommandRelease::None, false}, // no port: nothing answers
                 {Open, CommandRelease::PortOpened, false}, {None, CommandRelease::Silent, false},
                 {Reply, CommandRelease::None, true},       {Bad, CommandRelease::None, true},
                 {None, CommandRelease::Silent, false},     {Reply, CommandRelease::None, true},
                 {Open, CommandRelease::PortOpened, false}, // a reconnect starts again
                 {Reply, CommandRelease::None, true},       {Close, CommandRelease::PortClosed, false}};
    CommandGuard g;
    int i = 0;
    for (const Step& s : steps) {
        const CommandRelease r = s.event == Open    ? g.portOpened()
                                 : s.event == Close ? g.portClosed()
                                                    : g.transactionEnded(s.event == Reply ? O::Reply
                                                                         : s.event == Bad ? O::BadAnswer
                                                                                          : O::NoReply);
        EXPECT_EQ(r, s.release) << i;
        EXPECT_EQ(g.answering(), s.answering) << i;
        EXPECT_EQ(g.allowed(ins::kCmdClearFramRestart), s.answering ? ins::kCmdClearFramRestart : 0) << i++;
    }
}

TEST(FreshReading, OnlyAGoodReplyToARequestCarryingTheForcingCounts) {
    const ForceSelection step{1, 2, 3}; // CH1, divider level 1, gain 4
    ins::Reply matching;
    matching.GainCh1 = 4;
    matching.uDivider = 1;
    matching.AdFiltered1 = 1234;
    ins::Request carrying;
    carrying.GainForceCode = ins::gainForceCode(3, true);
    carrying.DividerForceCode = ins::dividerForceCode(2);
    struct Case {
        const char* name;
        bool requestCarries, sentAfterExpect, replied;
        std::uint8_t gain, divider;
        bool fresh;
    } cases[] = {{"good", true, true, true, 4, 1, true},
                 {"request from before the step", true, false, true, 4, 1, false},
                 {"request of another forcing", false, true, true, 4, 1, false},
                 {"link silent", true, true, false, 4, 1, false},
                 {"gain not in force", true, true, true, 2, 1, false},
                 {"divider not in force", true, true, true, 4, 2, false}};
    for (const Case& c : cases) {
        FreshReading f;
        ins::Request q = c.requestCarries ? carrying : ins::Request{};
        if (!c.sentAfterExpect) f.requestSent(q);
        f.expect(step);
        if (c.sentAfterExpect) f.requestSent(q);
        ins::Reply r = matching;
        r.GainCh1 = c.gain;
        r.uDivider = c.divider;
        c.replied ? f.replied(r) : f.failed();
        ASSERT_EQ(f.reading().has_value(), c.fresh) << c.name;
        if (c.fresh) EXPECT_EQ(f.reading()->adFiltered1, 1234);
    }
}

TEST(CalibrationChecks, ImplausibleSetsNameTheirValuesAndPairs) {
    EXPECT_TRUE(implausibleOutputConstants({13107, 52428, 10922, 54613}).empty());
    const auto swapped = implausibleOutputConstants({52428, 13107, 100, 100});
    ASSERT_EQ(swapped.size(), 2u);
    EXPECT_STREQ(swapped[0].lowName, "uOut4mA");
    EXPECT_STREQ(swapped[1].highName, "uOut10V");

    const std::int32_t nominal = ins::kNominalCalibrationSpan;
    CalibrationValues low{}, high{};
    high.fill(nominal);
    EXPECT_TRUE(implausibleInputConstants(low, high).empty());
    struct Case {
        std::int32_t low, high;
        bool plausible;
    } cases[] = {{-2000, nominal + 2000 - nominal / 5, true}, // at the band's edge
                 {0, nominal + nominal / 5 + 1, false},       // just beyond
                 {0, nominal * 2 / 5, false},                 // the neighbouring range's reference
                 {1000, 1200, false},                         // no reference applied
                 {nominal, 0, false},                         // leads swapped
                 {INT32_MIN, INT32_MAX, false}};              // no overflow
    for (const Case& c : cases) {
        low[2] = c.low;
        high[2] = c.high;
        const auto problems = implausibleInputConstants(low, high);
        EXPECT_EQ(problems.empty(), c.plausible) << c.low << " " << c.high;
        if (!c.plausible && !problems.empty()) EXPECT_EQ(problems[0].pair, 3);
    }
}
