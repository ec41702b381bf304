#include "instrument/exchange.h"
#include "samples.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace vx::instrument;

namespace {

template <std::size_t N>
std::vector<std::uint8_t> slice(const std::array<std::uint8_t, N>& a, std::size_t from, std::size_t count) {
    return {a.begin() + from, a.begin() + from + count};
}

std::vector<std::uint8_t> singleBytes(float f) {
    std::uint8_t b[4];
    std::memcpy(b, &f, 4); // the test machine is little-endian, like the wire
    return {b, b + 4};
}

Request initialRequest() {
    Request r = vx::test::sampleRequest();
    r.uOut20mA = 65535;
    r.uOut10V = 65535;
    return r;
}

// Every field with a value of its own, so that each shows where it travels.
Reply sampleReply() {
    Reply r = vx::test::sampleReply(
        {.input = 0.125, .outputType = 101, .inputLow = -25.0, .inputHigh = 25.0, .temperature = 23.5});
    r.AdRaw0 = 1234567;
    r.AdRaw1 = -1234567;
    r.AdFiltered0 = 8388607;
    r.AdFiltered1 = -8388607;
    r.DataSourceRam1 = 2;
    r.DataSourceRam2 = 3;
    r.ReservedByte = 0x5A;
    r.AcknowledgeFlags = 0xA2;
    r.GainCh0 = 1;
    r.GainCh1 = 32;
    r.StatusFlags = 0x88;
    r.WorkingMinutes = 0x01020304;
    r.CalibrationYear = 2015;
    r.CalibrationMonth = 2;
    r.CalibrationDay = 27;
    r.TemperatureMin = -12.25;
    r.TemperatureMax = 41.0;
    r.uADSamples = 50;
    r.ErrorNumber = 7;
    r.PwmValue = 0xBEEF;
    r.uDivider = 2;
    r.ScaleFraction = 0.75;
    r.ReservedSingle = -1.5;
    r.iTypeOfInstrument = 1;
    r.ModbusProtocol = 1;
    r.ModbusParity = 2;
    r.ModbusBaudRate = 5;
    r.ModbusAddress = 247;
    return r;
}

} // namespace

TEST(ExchangeRequest, InitialStateOnFifteenthOfMarch2014IsByteExact) {
    const auto b = encodeRequest(initialRequest());
    std::array<std::uint8_t, kRequestSize> expected{};
    const std::uint8_t out[] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF};
    std::memcpy(&expected[19], out, sizeof out);
    const std::uint8_t date[] = {0xDE, 0x07, 0x03, 0x0F};
    std::memcpy(&expected[27], date, sizeof date);
    expected[75] = 100;
    expected[76] = 100;
    const std::uint8_t scales[] = {0, 0, 0x80, 0x40, 0, 0, 0xA0, 0x41, 0, 0, 0x80, 0x40, 0, 0, 0xA0, 0x41};
    std::memcpy(&expected[77], scales, sizeof scales);
    const std::uint8_t modbus[] = {0x00, 0x01, 0x02, 0x00};
    std::memcpy(&expected[98], modbus, sizeof modbus);
    EXPECT_EQ(b, expected);
}

TEST(ExchangeRequest, CalibrationPairsAreSplitAroundOutputConstantsAndForcingCodes) {
    Request r;
    for (std::size_t k = 0; k < kCalibrationPairs; ++k) {
        r.Low[k] = static_cast<std::int32_t>(0x01000000 * (k + 1) + 0x10);
        r.High[k] = static_cast<std::int32_t>(0x01000000 * (k + 1) + 0x20);
    }
    r.Low[0] = -2;
    r.uOut4mA = 0x1234;
    r.GainForceCode = 200;
    r.DividerForceCode = 130;
    const auto b = encodeRequest(r);
    EXPECT_EQ(slice(b, 3, 4), (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(slice(b, 7, 4), (std::vector<std::uint8_t>{0x20, 0, 0, 0x01}));
    EXPECT_EQ(slice(b, 11, 4), (std::vector<std::uint8_t>{0x10, 0, 0, 0x02}));
    EXPECT_EQ(slice(b, 15, 4), (std::vector<std::uint8_t>{0x20, 0, 0, 0x02}));
    EXPECT_EQ(slice(b, 19, 2), (std::vector<std::uint8_t>{0x34, 0x12}));
    EXPECT_EQ(b[33], 200);
    EXPECT_EQ(b[34], 130);
    for (std::size_t k = 2; k < kCalibrationPairs; ++k) {
        const std::size_t at = 35 + 8 * (k - 2);
        const auto n = static_cast<std::uint8_t>(k + 1);
        EXPECT_EQ(slice(b, at, 4), (std::vector<std::uint8_t>{0x10, 0, 0, n})) << "Low" << k + 1;
        EXPECT_EQ(slice(b, at + 4, 4), (std::vector<std::uint8_t>{0x20, 0, 0, n})) << "High" << k + 1;
    }
    EXPECT_EQ(b[75], 0); // the type codes follow High7 directly
}

TEST(ExchangeRequest, TailFieldsAndTheSimulatorsDirection) {
    Request r = initialRequest();
    r.uPWMForce = 65535;
    r.CommandFlags = 0xA0;
    r.DirectControl = 255;
    r.OutputCheckPercent = 100;
    r.EditInputHigh = 125.0;
    r.RangeForceCode = 134;
    r.ModbusAddress = 247;
    r.Low[6] = -8388607;
    r.High[6] = 8388607;
    const auto b = encodeRequest(r);
    EXPECT_EQ(slice(b, 0, 3), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xA0}));
    EXPECT_EQ(slice(b, 31, 2), (std::vector<std::uint8_t>{255, 100}));
    EXPECT_EQ(slice(b, 81, 4), singleBytes(125.0f));
    EXPECT_EQ(slice(b, 93, 9), (std::vector<std::uint8_t>{0, 0, 0, 0, 134, 0, 1, 2, 247}));
    // The simulator reads what the configurator wrote, field for field.
    EXPECT_EQ(decodeRequest(b), r);
    // A truncated request reads 0 past its end, never beyond the buffer.
    const Request part = decodeRequest(std::span(b).first(97));
    EXPECT_EQ(part.EditOutputHigh, r.EditOutputHigh);
    EXPECT_EQ(part.RangeForceCode, 0);
    EXPECT_EQ(part.ModbusAddress, 0);
    EXPECT_EQ(decodeRequest({}), Request{});
}

TEST(ExchangeReply, EveryFieldAtItsOffsetAndBack) {
    const Reply r = sampleReply();
    const auto b = encodeReply(r);
    EXPECT_EQ(slice(b, 0, 4), (std::vector<std::uint8_t>{0xDE, 0x07, 3, 15}));
    EXPECT_EQ(slice(b, 4, 4), (std::vector<std::uint8_t>{0x87, 0xD6, 0x12, 0x00}));
    EXPECT_EQ(slice(b, 8, 4), (std::vector<std::uint8_t>{0x79, 0x29, 0xED, 0xFF}));
    EXPECT_EQ(slice(b, 20, 7), (std::vector<std::uint8_t>{2, 3, 0x5A, 0xA2, 1, 32, 0x88}));
    EXPECT_EQ(slice(b, 27, 4), singleBytes(0.125f));
    EXPECT_EQ(slice(b, 31, 3), (std::vector<std::uint8_t>{6, 100, 101}));
    EXPECT_EQ(slice(b, 38, 8), (std::vector<std::uint8_t>{4, 3, 2, 1, 0xDF, 0x07, 2, 27}));
    EXPECT_EQ(slice(b, 50, 4), singleBytes(-12.25f));
    EXPECT_EQ(slice(b, 58, 6), (std::vector<std::uint8_t>{50, 0, 7, 0xEF, 0xBE, 2}));
    EXPECT_EQ(slice(b, 64, 4), singleBytes(-25.0f));
    EXPECT_EQ(slice(b, 80, 4), singleBytes(0.75f));
    EXPECT_EQ(slice(b, 84, 4), singleBytes(-1.5f));
    EXPECT_EQ(slice(b, 88, 5), (std::vector<std::uint8_t>{1, 1, 2, 5, 247}));
    EXPECT_EQ(decodeReply(b), r);
}

TEST(ExchangeReply, ShortRepliesReadZeroForEveryFieldNotWhollyReceived) {
    const auto b = encodeReply(sampleReply());
    EXPECT_EQ(decodeReply({}), Reply{});
    // 30 bytes hold everything up to StatusFlags but only three bytes of InputValue.
    const Reply r30 = decodeReply(std::span(b).first(30));
    EXPECT_EQ(r30.StatusFlags, 0x88);
    EXPECT_EQ(r30.InputValue, 0.0);
    EXPECT_EQ(r30.InputRangeIndex, 0);
    const Reply r31 = decodeReply(std::span(b).first(31));
    EXPECT_EQ(r31.InputValue, 0.125);
    EXPECT_EQ(r31.InputRangeIndex, 0);
    const Reply r92 = decodeReply(std::span(b).first(92));
    EXPECT_EQ(r92.ModbusBaudRate, 5);
    EXPECT_EQ(r92.ModbusAddress, 0);
    // Extra bytes after the layout are ignored.
    std::vector<std::uint8_t> longer(b.begin(), b.end());
    longer.resize(120, 0xEE);
    EXPECT_EQ(decodeReply(longer), sampleReply());
}

TEST(ExchangeReals, NarrowedToSinglesAndWidenedBack) {
    Request r;
    r.EditInputLow = 0.1;
    r.EditInputHigh = 1e300;
    r.EditOutputLow = -1e300;
    r.EditOutputHigh = std::numeric_limits<double>::quiet_NaN();
    const Request back = decodeRequest(encodeRequest(r));
    EXPECT_EQ(back.EditInputLow, static_cast<double>(0.1f));
    EXPECT_NEAR(back.EditInputLow, 0.100000001490116, 1e-15);
    EXPECT_EQ(back.EditInputHigh, std::numeric_limits<double>::infinity());
    EXPECT_EQ(back.EditOutputLow, -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(back.EditOutputHigh));
    EXPECT_EQ(narrowToSingle(3.0e38), 3.0e38f);
}

TEST(ExchangeNames, EveryFieldOnceByNameInPayloadOrder) {
    Request q = initialRequest();
    q.Low[6] = -7;
    q.EditInputLow = 0.1;
    const std::vector<NamedField> req = requestFields(q);
    ASSERT_EQ(req.size(), 39u);
    EXPECT_EQ(req.front(), (NamedField{"uPWMForce", "0"}));
    EXPECT_EQ(req[2], (NamedField{"Low1", "0"}));
    EXPECT_EQ(req[7], (NamedField{"uOut20mA", "65535"}));
    EXPECT_EQ(req[11], (NamedField{"Month", "3"}));
    // Reals as the single on the wire, shortest form; arrays by their 1-based names.
    const auto find = [](const std::vector<NamedField>& fs, std::string_view name) {
        for (const NamedField& f : fs)
            if (f.name == name) return f.value;
        return std::string("missing");
    };
    EXPECT_EQ(find(req, "Low7"), "-7");
    EXPECT_EQ(find(req, "EditInputLow"), "0.1");
    EXPECT_EQ(req.back().name, "ModbusAddress");

    const std::vector<NamedField> rep = replyFields(sampleReply());
    ASSERT_EQ(rep.size(), 41u);
    EXPECT_EQ(rep.front().name, "FirmwareYear");
    EXPECT_EQ(rep.back().name, "ModbusAddress");
    std::vector<std::string_view> names;
    for (const NamedField& f : rep)
        names.push_back(f.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}
