#include "sim/lab.h"

#include <gtest/gtest.h>

#include <string>

using namespace vx::sim;

TEST(SimLab, MeterTextHasItsFixedFormatAndOnlyThatReadsBack) {
    EXPECT_EQ(meterText({32768, 12.3456784, 6.1728391}),
              "current_mA=12.345678\nvoltage_V=6.172839\npwm=32768\n");
    EXPECT_EQ(meterText({0, -0.0, 0.0}), "current_mA=0.000000\nvoltage_V=0.000000\npwm=0\n");
    OutputLevel level;
    ASSERT_TRUE(parseMeterText(meterText({65535, 21.5, 10.5}), &level));
    EXPECT_EQ(level.pwm, 65535);
    EXPECT_EQ(level.currentMa, 21.5);
    EXPECT_EQ(level.voltageV, 10.5);
    for (const char* bad : {"", "current_mA=1\nvoltage_V=2\n", "current_mA=1\nvoltage_V=2\npwm=65536\n",
                            "current_mA=1\nvoltage_V=2\npwm=7", "current_mA=1\nvoltage_V=2\npwm=7\nx=1\n",
                            "voltage_V=2\ncurrent_mA=1\npwm=7\n", "current_mA=abc\nvoltage_V=2\npwm=7\n",
                            "current_mA=1\nvoltage_V=2\npwm=-1\n"})
        EXPECT_FALSE(parseMeterText(bad, &level)) << bad;
    EXPECT_EQ(level.pwm, 65535); // untouched by the failures
}

TEST(SimLab, ControlLinesSwitchTheCalibratorOrAreRefusedWithAReason) {
    using Kind = ControlCommand::Kind;
    const struct {
        const char* line;
        Kind kind;
        double value;
    } good[] = {{"signal 12.5", Kind::Signal, 12.5},
                {"  signal\t-0.2 \r", Kind::Signal, -0.2},
                {"short", Kind::Short, 0.0},
                {"open\r", Kind::Open, 0.0},
                {"", Kind::Blank, 0.0},
                {" \t", Kind::Blank, 0.0}};
    for (const auto& g : good) {
        ControlCommand c;
        c.signal.low = 99.0;
        std::string error;
        ASSERT_TRUE(parseControlLine(g.line, &c, &error)) << g.line << ": " << error;
        EXPECT_EQ(c.kind, g.kind) << g.line;
        if (g.kind != Kind::Blank) {
            EXPECT_EQ(c.signal.valueAt(3.0), g.value) << g.line;
        }
    }
    ControlCommand wave;
    std::string error;
    ASSERT_TRUE(parseControlLine("signal sine:4:20:10", &wave, &error));
    EXPECT_EQ(wave.signal.shape, Signal::Shape::Sine);
    for (const char* bad : {"signal", "signal x", "signal 1 2", "signal nan", "short 1", "open now",
                            "volts 3", "SIGNAL 1", "signal 1\x01"}) {
        error.clear();
        EXPECT_FALSE(parseControlLine(bad, &wave, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(error.find('\x01'), std::string::npos); // nothing unprintable goes to the terminal
    }
}

TEST(SimLab, LinesArriveWholeWhateverTheChunksAndOverlongOnesAreDropped) {
    LineSplitter s(8);
    auto texts = [](const std::vector<LineSplitter::Line>& lines) {
        std::string all;
        for (const auto& l : lines)
            all += (l.tooLong ? std::string("<long>") : l.text) + "|";
        return all;
    };
    EXPECT_EQ(texts(s.feed("sig")), "");
    EXPECT_EQ(texts(s.feed("nal 1\nshort\n\nop")), "signal 1|short||");
    EXPECT_EQ(texts(s.feed("en\n0123456789")), "open|<long>|");
    EXPECT_EQ(texts(s.feed(std::string(10000, 'x'))), ""); // still dropping, nothing kept
    EXPECT_EQ(texts(s.feed("abc\nshort\n")), "short|");
}
