#include "sim/statefile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

using namespace vx::sim;

namespace {
Memory sampleMemory() {
    Memory m = factoryMemory(1);
    m.inputType = 101;
    m.inputHigh = 0.1f;
    m.outputLow = -3.25;
    m.modbusAddress = 247;
    m.inputCalibrated = true;
    m.low[6] = -8388607;
    m.high[0] = 8388607;
    m.out10V = 65535;
    m.calibrationYear = 2014;
    m.calibrationMonth = 3;
    m.calibrationDay = 15;
    m.temperatureRecorded = true;
    m.temperatureMin = -12.345678901234567;
    m.workingMs = 123456789012ULL;
    m.written = true;
    return m;
}
} // namespace

TEST(SimStateFile, RoundTripsEveryValueExactly) {
    Memory back = factoryMemory(0);
    ASSERT_TRUE(parseMemory(serializeMemory(sampleMemory()), &back));
    EXPECT_EQ(back, sampleMemory());
}

TEST(SimStateFile, BrokenTextLeavesTheMemoryAlone) {
    const std::string good = serializeMemory(sampleMemory());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const std::string broken[] = {
        "garbage",
        replaced("modbus_address=247", "modbus_address=300"),
        replaced("modbus_address=247", "modbus_address=-1"),
        replaced("input_high=", "input_high=nan#"),
        replaced("input_calibrated=1", "input_calibrated=yes"),
        replaced("working_ms=", "working_ms= "),
        replaced("low7=", "colour="),
        replaced("high1=8388607\n", ""),
        good + "high1=1\n",
        good.substr(0, good.size() / 2),
    };
    for (const std::string& text : broken) {
        Memory m = factoryMemory(0);
        EXPECT_FALSE(parseMemory(text, &m)) << text;
        EXPECT_EQ(m, factoryMemory(0));
    }
    Memory m = factoryMemory(0);
    EXPECT_TRUE(parseMemory("# comment\r\n\r\n" + good, &m)); // blank lines, comments and CRLF are fine
}

TEST(SimStateFile, SavedFileLoadsAndMissingOrBrokenFilesAreTold) {
    char dir[] = "/tmp/vxsimstateXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/state.txt";
    Memory m = factoryMemory(0);
    EXPECT_EQ(loadMemory(path, &m), LoadResult::Missing);
    ASSERT_TRUE(saveMemory(path, sampleMemory()));
    EXPECT_EQ(loadMemory(path, &m), LoadResult::Loaded);
    EXPECT_EQ(m, sampleMemory());
    std::ofstream(path) << "input_type=100\n";
    m = factoryMemory(0);
    EXPECT_EQ(loadMemory(path, &m), LoadResult::Broken);
    EXPECT_EQ(m, factoryMemory(0));
    EXPECT_FALSE(saveMemory(std::string(dir) + "/no/such/dir/state.txt", m));
    std::remove(path.c_str());
    rmdir(dir);
}
