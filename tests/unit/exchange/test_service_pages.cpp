#include "app/ServicePages.h"

#include <gtest/gtest.h>

using namespace vx::app;

TEST(OutputCalibration, PwmArithmeticSaturatesAndRoundsHalvesToEven) {
    const auto button = [](const char* name) {
        for (const PwmButton& b : kPwmButtons)
            if (std::string(b.name) == name) return b;
        ADD_FAILURE() << name;
        return kPwmButtons[0];
    };
    struct Case {
        const char* button;
        int from, to;
    } cases[] = {{"Button5", 0, 0},
                 {"Button1", 10000, 0},
                 {"Button1", 9999, 0},
                 {"Button10", 60000, 65535},
                 {"Button6", 65535, 65535},
                 {"Button9", 100, 1100},
                 {"Button3", 150, 50},
                 {"Button_Out0", 777, 0},
                 {"Button_OutVegertek", 7, 65535},
                 {"Button_Out50Percents", 0, 32768}};
    for (const Case& c : cases)
        EXPECT_EQ(adjustPwm(c.from, button(c.button)), c.to) << c.button << " at " << c.from;

    EXPECT_EQ(pwmFromTrackBar(50), 32768); // 32767.5 goes to the even neighbour
    EXPECT_EQ(pwmFromTrackBar(1), 655);
    EXPECT_EQ(pwmFromTrackBar(100), 65535);
    EXPECT_EQ(pwmPercent(32768), 50);
    EXPECT_EQ(pwmPercent(65535), 100);
    EXPECT_EQ(pwmMidpoint(0, 65535), 32768);
    EXPECT_EQ(pwmMidpoint(4, 5), 4);
    EXPECT_EQ(pwmMidpoint(5, 6), 6);
    EXPECT_EQ(pwmForceOf(0), 1); // the value sent is never 0
    EXPECT_EQ(pwmForceOf(65535), 65535);
}

TEST(OutputCalibration, NextRecordsWhatIsSentAndBackRemovesWhatNextAdded) {
    OutputCalibrationValues v;
    std::vector<std::string> list;
    // A full pass, each step sending a distinct value; step 1 sends the untouched 0 as 1.
    const std::uint16_t sent[] = {1, 60123, 0, 1234, 56789, 0};
    for (int step = 1; step <= 6; ++step) {
        for (const CalibratedLine& line : outputCalibrationNext(step, sent[step - 1], v)) {
            if (line.separator) list.push_back(kCalibratedSeparator);
            list.push_back(line.text);
        }
    }
    const std::string sep = kCalibratedSeparator;
    EXPECT_EQ(sep.size(), 43u);
    EXPECT_EQ(list,
              (std::vector<std::string>{"Step 1:", "uOut4mA = 1", sep, "Step 2:", "uOut20mA = 60 123", sep,
                                        "Step 4:", "uOut2V = 1 234", sep, "Step 5:", "uOut10V = 56 789"}));
    EXPECT_EQ(v.out4mA, 1);
    EXPECT_EQ(v.out20mA, 60123);
    EXPECT_EQ(v.out2V, 1234);
    EXPECT_EQ(v.out10V, 56789);
    EXPECT_EQ(checkPointValue(CheckPoint::I12mA, v), 30062);
    EXPECT_EQ(checkPointValue(CheckPoint::U6V, v), 29012); // 29011.5 to even
    // Lines added by the Next into each step, which its Back takes away again.
    const int backLines[] = {0, 2, 3, 0, 3, 3, 0};
    for (int step = 1; step <= 7; ++step)
        EXPECT_EQ(outputCalibrationStep(step).backLines, backLines[step - 1]) << step;
}

TEST(InputCalibration, APassTakesFourteenReadingsIntoTheirFields) {
    InputCalibrationState s;
    CalibrationValues low{}, high{};
    std::vector<std::string> list;
    const auto tick = [&](std::int32_t r0, std::int32_t r1) {
        const InputCalibrationEffects e = inputCalibrationTick(s, Reading{r0, r1}, low, high);
        if (e.addLine) list.push_back(*e.addLine);
        if (e.removeLine) list.pop_back();
        return e;
    };
    s.step = kInCalFirstState;
    InputCalibrationEffects e = tick(0, 0);
    EXPECT_EQ(e.force, (ForceSelection{1, 1, 2}));
    EXPECT_EQ(*e.heading, "Uin1 1/3 offszet kalibrálás");
    EXPECT_EQ(e.nextVisible, true);
    EXPECT_EQ(e.backVisible, false);
    EXPECT_FALSE(tick(0, 0).addLine); // waiting without a request does nothing

    // Every step's reading is distinct: CH1 readings 1000 + k, CH0 readings -(2000 + k).
    for (int k = 0; k < kInputCalibrationSteps; ++k) {
        if (k > 0) tick(0, 0); // display state
        s.nextRequest = true;
        tick(-(2000 + k), 1000 + k);
        EXPECT_EQ(s.step, kInputCalibrationTable[k].state + 10);
    }
    EXPECT_EQ(low, (CalibrationValues{1000, 1001, 1002, 1006, 1007, 1008, -2012}));
    EXPECT_EQ(high, (CalibrationValues{1003, 1004, 1005, 1009, 1010, 1011, -2013}));
    ASSERT_EQ(list.size(), 14u);
    EXPECT_EQ(list[0], "Low1 = 0 001 000");
    EXPECT_EQ(list[3], "High1 = 0 001 003");
    EXPECT_EQ(list[13], "High7 = -0 002 013"); // the sign is kept

    e = tick(0, 0);
    EXPECT_EQ(e.force, ForceSelection{});
    EXPECT_EQ(*e.heading, "Kalibrálási adatok mentése.");
    EXPECT_EQ(e.storeVisible, true);
    EXPECT_EQ(e.nextVisible, false);
    EXPECT_EQ(e.backVisible, false);
    EXPECT_EQ(s.step, 0);
    s.nextRequest = true;
    EXPECT_FALSE(tick(5, 5).addLine); // state 0 does nothing
}

TEST(InputCalibration, BackAndRequestsThatMeetInOneTick) {
    InputCalibrationState s{kInCalFirstState};
    CalibrationValues low{}, high{};
    std::optional<Reading> fresh = Reading{7, 42};
    const auto tick = [&] { return inputCalibrationTick(s, fresh, low, high); };
    tick();
    s.backRequest = true; // Back does nothing on the first step
    EXPECT_FALSE(tick().removeLine);
    EXPECT_EQ(s.step, 11);
    s.nextRequest = true;
    tick(); // Low1 taken
    EXPECT_TRUE(s.backRequest) << "only a display state clears the requests";
    EXPECT_EQ(tick().backVisible, true); // state 20 shows Back and drops the stale Back request
    EXPECT_FALSE(s.backRequest);

    // Without a fresh reading Next waits, visibly, and takes nothing.
    s.nextRequest = true;
    fresh.reset();
    EXPECT_EQ(tick().waiting, true);
    EXPECT_EQ(s.step, 21);
    EXPECT_EQ(low[1], 0);

    // Next and Back in one tick: Back wins, so the list (one line less) matches the values.
    fresh = Reading{7, 42};
    s.backRequest = true;
    const InputCalibrationEffects e = tick();
    EXPECT_FALSE(e.addLine);
    EXPECT_TRUE(e.removeLine);
    EXPECT_EQ(e.waiting, false);
    EXPECT_EQ(low[1], 0);
    EXPECT_EQ(s.step, 10);
    // A full-scale heading carries its reference; the current steps read CH0.
    EXPECT_EQ(inputCalibrationHeading(kInputCalibrationTable[10]), "Uin2 2/3 végérték kalibrálás: 50 V");
    EXPECT_EQ(kInputCalibrationTable[13].channel, 0);
}

TEST(TestPage, RangeForceChoosesItsDivider) {
    const std::optional<int> expected[] = {std::nullopt, 1, 1, 2, 2, 3, 3, 3, std::nullopt};
    for (int item = 0; item <= 8; ++item)
        EXPECT_EQ(dividerForRange(item), expected[item]) << item;
}
