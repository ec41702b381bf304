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
    using R = CommandRelease;
    CommandGuard g;
    // Event: 'o' open, 'c' close, or a transaction's outcome; then the release and answering after it.
    const std::tuple<char, R, bool> steps[] = {{'r', R::None, false},   {'o', R::PortOpened, false},
                                               {'n', R::Silent, false}, {'r', R::None, true},
                                               {'b', R::None, true},    {'n', R::Silent, false},
                                               {'r', R::None, true},    {'o', R::PortOpened, false},
                                               {'r', R::None, true},    {'c', R::PortClosed, false}};
    for (const auto& [event, release, answering] : steps) {
        const R r = event == 'o'   ? g.portOpened()
                    : event == 'c' ? g.portClosed()
                                   : g.transactionEnded(event == 'r'   ? O::Reply
                                                        : event == 'b' ? O::BadAnswer
                                                                       : O::NoReply);
        EXPECT_EQ(r, release) << event;
        EXPECT_EQ(g.allowed(ins::kCmdClearFramRestart), answering ? ins::kCmdClearFramRestart : 0) << event;
    }
}

TEST(FreshReading, OnlyAGoodReplyToARequestCarryingTheForcingCounts) {
    ins::Request carrying; // CH1, divider level 1, gain 4
    carrying.GainForceCode = ins::gainForceCode(3, true);
    carrying.DividerForceCode = ins::dividerForceCode(2);
    struct Case {
        const char* name;
        bool carries, sentAfterStep, replied;
        std::uint8_t gain, divider;
    } cases[] = {{"fresh", true, true, true, 4, 1},
                 {"request from before the step", true, false, true, 4, 1},
                 {"request of another forcing", false, true, true, 4, 1},
                 {"link silent", true, true, false, 4, 1},
                 {"gain not in force", true, true, true, 2, 1},
                 {"divider not in force", true, true, true, 4, 2}};
    for (const Case& c : cases) {
        FreshReading f;
        const ins::Request q = c.carries ? carrying : ins::Request{};
        if (!c.sentAfterStep) f.requestSent(q);
        f.expect({1, 2, 3});
        if (c.sentAfterStep) f.requestSent(q);
        ins::Reply r;
        r.GainCh1 = c.gain;
        r.uDivider = c.divider;
        r.AdFiltered1 = 1234;
        c.replied ? f.replied(r) : f.failed();
        EXPECT_EQ(f.reading() ? f.reading()->adFiltered1 : -1, &c == &cases[0] ? 1234 : -1) << c.name;
    }
}

TEST(CalibrationChecks, ImplausibleSetsNameTheirValuesAndPairs) {
    EXPECT_TRUE(implausibleOutputConstants({13107, 52428, 10922, 54613}).empty());
    const auto swapped = implausibleOutputConstants({52428, 13107, 100, 100});
    ASSERT_EQ(swapped.size(), 2u);
    EXPECT_STREQ(swapped[0].lowName, "uOut4mA");
    EXPECT_STREQ(swapped[1].highName, "uOut10V");

    const std::int32_t n = ins::kNominalCalibrationSpan;
    // Pair 3: at the band's edge, just beyond, the neighbouring range's reference, none, leads
    // swapped, the extremes (no overflow).
    const std::tuple<std::int32_t, std::int32_t, bool> cases[] = {{-2000, n + 2000 - n / 5, true},
                                                                  {0, n + n / 5 + 1, false},
                                                                  {0, n * 2 / 5, false},
                                                                  {1000, 1200, false},
                                                                  {n, 0, false},
                                                                  {INT32_MIN, INT32_MAX, false}};
    CalibrationValues low{}, high{};
    high.fill(n);
    for (const auto& [l, h, plausible] : cases) {
        low[2] = l;
        high[2] = h;
        const auto problems = implausibleInputConstants(low, high);
        EXPECT_EQ(problems.size(), plausible ? 0u : 1u) << l << " " << h;
        if (!problems.empty()) {
            EXPECT_EQ(problems[0].pair, 3);
        }
    }
}
