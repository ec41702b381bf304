// The rules behind the trend's axes, the traffic monitor's columns and the recording's event rows.
#include "app/tools/CsvRecorder.h"
#include "app/tools/LinkGaps.h"
#include "app/tools/Traffic.h"
#include "app/tools/TrendAxes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace vx::app::tools;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(TrendAxes, RoundEndsInOneTwoFiveSteps) {
    const struct {
        double lo, hi;
        AxisTicks want;
    } cases[] = {
        {4, 20, {0, 20, 5, 5}},           // a 4..20 mA loop
        {0.1, 0.93, {0, 1, 0.2, 6}},      //
        {-200, 200, {-200, 200, 100, 5}}, // a symmetric range
        {12, 12, {11, 13, 0.5, 5}},       // one value gets room around it
        {0, 0, {-0.6, 0.6, 0.2, 7}},      //
        {-3.7e-4, 1.2e-4, {-4e-4, 2e-4, 1e-4, 7}},
        {1, 0, {}},        // no values
        {kNaN, 1, {}},     // not a number
        {0, HUGE_VAL, {}}, //
        {-1e31, 1e31, {}}, // beyond any reading
    };
    for (const auto& c : cases) {
        const AxisTicks a = niceAxis(c.lo, c.hi);
        EXPECT_NEAR(a.lo, c.want.lo, 1e-9 * std::max(1.0, std::fabs(c.want.lo))) << c.lo << ".." << c.hi;
        EXPECT_NEAR(a.hi, c.want.hi, 1e-9 * std::max(1.0, std::fabs(c.want.hi))) << c.lo << ".." << c.hi;
        EXPECT_NEAR(a.step, c.want.step, 1e-12 * std::max(1.0, c.want.step)) << c.lo << ".." << c.hi;
        EXPECT_EQ(a.ticks, c.want.ticks) << c.lo << ".." << c.hi;
    }
    EXPECT_TRUE(sharesAxis("mA", "mA"));
    EXPECT_FALSE(sharesAxis("mV", "mA"));
    EXPECT_FALSE(sharesAxis("", "")); // no reply yet: nothing is known to agree
}

TEST(TrafficColumns, AddressFunctionAndAsciiBesideTheHex) {
    const struct {
        std::vector<std::uint8_t> request;
        int address, function;
    } cases[] = {{{0x03, 0x00, 0x01, 0xaa, 0xbb}, 3, 1}, {{0x81, 0x07, 0x10}, 1, 16}, {{0x01, 0x00}, -1, -1}};
    for (const auto& c : cases) {
        RecordedExchange e;
        e.request = c.request;
        EXPECT_EQ(requestHeader(e).address, c.address);
        EXPECT_EQ(requestHeader(e).function, c.function);
    }
    std::vector<std::uint8_t> bytes(18, 0x41); // "AAAA..."
    bytes[1] = 0x00;
    bytes[17] = 0x7f;
    const std::string hex = hexLines(bytes);
    const auto nl = hex.find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_EQ(hex.substr(0, nl), "0000  41 00 41 41 41 41 41 41 41 41 41 41 41 41 41 41  |A.AAAAAAAAAAAAAA|");
    // The short last line keeps its text column under the full one's.
    EXPECT_EQ(hex.substr(nl + 1), "0010  41 7f" + std::string(14 * 3 + 2, ' ') + "|A.|");
    EXPECT_EQ(hexLines({}), "");
}

TEST(RecordingEvents, OneRowWhenRepliesStopAndOneWhenTheyReturn) {
    LinkGaps gaps;
    const struct {
        Outcome outcome; // Ok: a good reply
        const char* event;
    } steps[] = {
        {Outcome::Ok, ""},          {Outcome::TimeOut, "link lost: time-out"},
        {Outcome::TimeOut, ""}, // the same gap
        {Outcome::ClosedPort, ""},  {Outcome::Ok, "link back"},
        {Outcome::Ok, ""},          {Outcome::SlaveError, "link lost: slave error 130"},
        {Outcome::Ok, "link back"},
    };
    for (const auto& s : steps)
        EXPECT_EQ(s.outcome == Outcome::Ok ? gaps.replied() : gaps.failed(s.outcome, 130), s.event);
    // The event sits in the header's last column, after as many fields as a measured row has.
    const std::string header = csvHeader(), row = csvEventRow(0, "link back");
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), std::count(header.begin(), header.end(), ','));
    const auto ends = [](const std::string& s, const std::string& tail) { return s.ends_with(tail); };
    EXPECT_TRUE(ends(row, ",,link back\r\n")) << row;
    EXPECT_TRUE(ends(header, ",event\r\n"));
    EXPECT_TRUE(ends(csvEventRow(0, "a,b"), ",\"a,b\"\r\n")); // quoted as any field
}

} // namespace
