#include "station/benchrun.h"
#include "station/scpi.h"
#include "station/transport.h"

#include <gtest/gtest.h>

#include <clocale>
#include <deque>

using namespace vx::station;

namespace {

// A peer that answers from a script: each entry is what one read hands over; "" is a time-out and
// "\x04" the connection closing. Commands sent are kept.
class ScriptedPeer : public Transport {
public:
    ScriptedPeer(std::deque<std::string> script, std::string* sent)
        : script_(std::move(script)), sent_(sent) {}
    bool send(std::string_view bytes, std::string*) override {
        *sent_ += bytes;
        return true;
    }
    ReadResult receive(char* buffer, std::size_t size, std::chrono::milliseconds) override {
        if (script_.empty() || script_.front().empty()) {
            if (!script_.empty()) script_.pop_front();
            return {ReadStatus::TimedOut, 0, {}};
        }
        if (script_.front() == "\x04") return {ReadStatus::Closed, 0, "hung up"};
        std::string& chunk = script_.front();
        const std::size_t n = std::min(size, chunk.size());
        chunk.copy(buffer, n);
        chunk.erase(0, n);
        if (chunk.empty()) script_.pop_front();
        return {ReadStatus::Data, n, {}};
    }

private:
    std::deque<std::string> script_;
    std::string* sent_;
};

// A meter whose reading follows a change only after a while: 1 at first, 2 from 150 ms on.
class LaggingMeter : public Transport {
public:
    bool send(std::string_view bytes, std::string*) override {
        const bool late = std::chrono::steady_clock::now() - start_ > std::chrono::milliseconds(150);
        replies_ += bytes.starts_with("MEAS") ? (late ? "2\n" : "1\n") : "0,\"No error\"\n";
        return true;
    }
    ReadResult receive(char* buffer, std::size_t size, std::chrono::milliseconds) override {
        const std::size_t n = replies_.copy(buffer, size);
        replies_.erase(0, n);
        return {n ? ReadStatus::Data : ReadStatus::TimedOut, n, {}};
    }

private:
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::string replies_;
};

} // namespace

TEST(Scpi, EachExchangeEndsInItsValueOrOneClearError) {
    const std::string ok = "0,\"No error\"\n";
    const struct Case {
        const char* name;
        std::deque<std::string> script;
        int call;          // 0 identify, 1 measure current, 2 source 0.2 V
        const char* error; // expected error text (part), "" for success
        const char* sent;
    } cases[] = {
        {"identity", {"VX,DMM,1,2\n", ok}, 0, "", "*IDN?\nSYST:ERR?\n"},
        {"identity without fields", {"hello\n"}, 0, "meter: garbage answer to *IDN?: hello", "*IDN?\n"},
        {"reading split over reads", {"+4.0012", "3E-03", "\n", ok}, 1, "", "MEAS:CURR:DC?\nSYST:ERR?\n"},
        {"time-out", {""}, 1, "meter: no answer to MEAS:CURR:DC? within 50 ms", "MEAS:CURR:DC?\n"},
        {"half an answer, then silence", {"4.0", ""}, 1, "within 50 ms (got 4.0)", "MEAS:CURR:DC?\n"},
        {"garbage bytes", {"\x13\xFF\x02\n"}, 1, "garbage answer to MEAS:CURR:DC?: \\x13\\xFF\\x02", ""},
        {"not a number", {"OVLD\n"}, 1, "garbage answer to MEAS:CURR:DC?: OVLD", ""},
        {"overload value", {"9.9E37\n"}, 1, "garbage answer", ""},
        {"endless line", {std::string(5000, '7')}, 1, "(no end of line)", ""},
        {"connection lost",
         {"\x04"},
         1,
         "meter: connection lost waiting for the answer to MEAS:CURR:DC?: hung up",
         ""},
        {"error queue",
         {"4E-3\n", "-222,\"Data out of range\"\n"},
         1,
         "meter: reports error -222,\"Data out of range\"",
         ""},
        {"garbage in the error queue", {"4E-3\n", "what\n"}, 1, "garbage answer to SYST:ERR?: what", ""},
        {"source sequence", {ok, ok}, 2, "", "SOUR:VOLT 0.2\nSYST:ERR?\nOUTP ON\nSYST:ERR?\n"},
        {"refused level, output stays off",
         {"-222,\"Data out of range\"\n"},
         2,
         "reports error -222",
         "SOUR:VOLT 0.2\nSYST:ERR?\n"},
    };
    for (const Case& c : cases) {
        std::string sent;
        ScpiProfile profile;
        profile.timeout = std::chrono::milliseconds(50);
        ScpiInstrument meter("meter", std::make_unique<ScriptedPeer>(c.script, &sent), profile);
        bool done = false;
        if (c.call == 0) done = meter.identify();
        if (c.call == 1) {
            const auto v = meter.measure(Quantity::Current);
            done = v.has_value();
            if (done) {
                EXPECT_DOUBLE_EQ(*v, 4.00123e-3) << c.name;
            }
        }
        if (c.call == 2) done = meter.source(Quantity::Voltage, 0.2);
        EXPECT_EQ(done, *c.error == '\0') << c.name;
        EXPECT_NE(meter.error().find(c.error), std::string::npos) << c.name << ": " << meter.error();
        if (*c.sent) {
            EXPECT_EQ(sent, c.sent) << c.name;
        }
        if (c.call == 0 && done) {
            EXPECT_EQ(meter.identity(), "VX,DMM,1,2");
        }
    }
}

TEST(Scpi, ProfilesEndpointsAndNumbersIgnoreTheDesktopLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "hu_HU.UTF-8"), nullptr) << "the test set-up generates hu_HU.UTF-8";
    EXPECT_EQ(scpiLevel("SOUR:CURR", 0.02), "SOUR:CURR 0.02");
    EXPECT_EQ(parseScpiNumber(" +1.5E+01 "), 15.0);
    EXPECT_FALSE(parseScpiNumber("1,5"));
    ScpiProfile p;
    std::string error;
    ASSERT_TRUE(parseProfile(
        "# a meter from elsewhere\nmeasureVoltage = READ?\nterminator=\\r\\n\ntimeout=500\nmeterSpacing=20\n",
        &p, &error));
    EXPECT_EQ(p.measureVoltage, "READ?");
    EXPECT_EQ(p.meterSpacing.count(), 20);
    EXPECT_EQ(p.terminator, "\r\n");
    EXPECT_EQ(p.timeout.count(), 500);
    EXPECT_FALSE(parseProfile("measureVoltage=X\ncolour=red\n", &p, &error));
    EXPECT_EQ(error, "line 2: colour=red");
    EXPECT_FALSE(parseProfile("meterSpacing=-20\n", &p, &error));
    EXPECT_FALSE(parseProfile("meterSpacing=20 ms\n", &p, &error));
    EXPECT_EQ(p.measureVoltage, "READ?"); // untouched by the failure
    std::setlocale(LC_ALL, "C");

    const struct {
        const char* text;
        const char* described; // "" for refused
    } endpoints[] = {{"tcp:192.168.1.9", "tcp:192.168.1.9:5025"},
                     {"tcp:bench:5555", "tcp:bench:5555"},
                     {"/dev/usbtmc0", "/dev/usbtmc0"},
                     {"/dev/ttyUSB1", "/dev/ttyUSB1 9600 8N1"},
                     {"serial:/dev/ttyS0:115200:7E2", "/dev/ttyS0 115200 7E2"},
                     {"serial:/dev/ttyS0:12345", ""},
                     {"tcp:host:0", ""},
                     {"", ""}};
    for (const auto& e : endpoints) {
        Endpoint ep;
        EXPECT_EQ(parseEndpoint(e.text, &ep, &error), *e.described != '\0') << e.text;
        if (*e.described) {
            EXPECT_EQ(describe(ep), e.described);
        }
    }
}

TEST(Scpi, SettledReadingsAreSpacedAsTheMetersProfileSays) {
    const struct {
        const char* profile;
        double settled;
        int taken;
    } cases[] = {{"", 1.0, 2}, // back to back, the lagging reading looks settled
                 {"meterSpacing=300", 2.0, 3}};
    for (const auto& c : cases) {
        ScpiProfile profile;
        std::string error;
        ASSERT_TRUE(parseProfile(c.profile, &profile, &error)) << error;
        ScpiInstrument meter("meter", std::make_unique<LaggingMeter>(), profile);
        int taken = 0;
        EXPECT_EQ(settledReading(meter, Quantity::Current, 1e-6, 5, &error, &taken), c.settled) << c.profile;
        EXPECT_EQ(taken, c.taken) << c.profile;
    }
}
