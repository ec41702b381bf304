#include "sim/scpibench.h"

#include <gtest/gtest.h>

using namespace vx::sim;

TEST(SimScpiBench, TheMeterReadsTheOutputAndTheSourceDrivesTheInputWithinItsLimits) {
    OutputLevel level{1000, 4.0, 2.0};
    Signal applied;
    applied.low = -1;
    MeterOptions exact;
    exact.noisePpm = 0;
    ScpiResponder meter(
        ScpiResponder::Role::Meter, exact, [&] { return level; }, nullptr);
    ScpiResponder source(ScpiResponder::Role::Source, exact, nullptr, [&](const Signal& s) { applied = s; });
    const struct {
        ScpiResponder* who;
        const char* line;
        const char* answer; // "" for none
        double applied;     // the source's signal afterwards (V, or mA on the current input)
    } steps[] = {
        {&meter, "MEAS:CURR:DC?", "4.00000e-03", -1},
        {&meter, "measure:voltage:dc? \r", "2.00000e+00", -1},
        {&meter, "SOUR:VOLT 1", "", -1},
        {&meter, "SYST:ERR?", "-113,\"Undefined header\"", -1},
        {&meter, "SYST:ERR?", "0,\"No error\"", -1},
        {&source, "SOUR:VOLT 0.2", "", 0.0}, // set but not on yet
        {&source, "OUTP ON", "", 0.2},
        {&source, "SOUR:VOLT 131", "", 0.2}, // beyond the source's range: refused, level kept
        {&source, "SYST:ERR?", "-222,\"Data out of range\"", 0.2},
        {&source, "SOUR:CURR 0.02", "", 0.0}, // a change of function drops the output
        {&source, "OUTP 1", "", 20.0},
        {&source, "SOUR:CURR abc", "", 20.0},
        {&source, "SYST:ERR?", "-104,\"Data type error\"", 20.0},
        {&source, "OUTP OFF", "", 0.0},
        {&source, "*IDN?", "VX-SIM,Calibrator,SIM0002,1.0", 0.0},
    };
    for (const auto& s : steps) {
        const auto answer = s.who->handle(s.line);
        EXPECT_EQ(answer.value_or(""), s.answer) << s.line;
        EXPECT_EQ(applied.low, s.applied) << s.line;
    }
    ScpiPlace place;
    std::string error;
    EXPECT_TRUE(parseScpiPlace("tcp:5025", &place, &error) && place.tcp && place.port == 5025);
    EXPECT_TRUE(parseScpiPlace("/tmp/meter", &place, &error) && !place.tcp && place.link == "/tmp/meter");
    EXPECT_FALSE(parseScpiPlace("tcp:70000", &place, &error));
}

TEST(SimScpiBench, AMeterWithASettlingTimeFollowsEachChangeOfTheOutputWithAFirstOrderLag) {
    OutputLevel level{1000, 4.0, 2.0};
    double now = 0;
    ScpiResponder meter(
        ScpiResponder::Role::Meter, {.noisePpm = 0, .settleMs = 20}, [&] { return level; }, nullptr);
    meter.setClock([&] { return now; });
    meter.follow(); // 4 mA, 2 V for a long time; 20 mA, 10 V from 1 s on
    level = {50000, 20.0, 10.0}, now = 1.0;
    meter.follow();
    now = 1.02; // one time constant: 1/e of the step left
    EXPECT_EQ(meter.handle("MEAS:CURR:DC?").value_or(""), "1.41139e-02");
    EXPECT_EQ(meter.handle("MEAS:VOLT:DC?").value_or(""), "7.05696e+00");
}
