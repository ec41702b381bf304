// The automatic calibration on a complete simulated bench: the unit on a pseudo-terminal at 115200 bit/s,
// its SCPI meter on a pseudo-terminal and its SCPI source on a loopback TCP port.
#include "simbench.h"

#include "instrument/codes.h"
#include "sim/unit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

using namespace vx;
using namespace vx::station;

namespace {

class Bench : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vx-bench-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        port_ = std::to_string(20000 + getpid() % 20000);
        sim_ = std::make_unique<sim::SimProcess>(
            VX2207_SIM,
            std::vector<std::string>{"--seed", std::to_string(kSeed), "--baud", "115200", "--scpi-meter",
                                     dir_ + "/meter", "--scpi-source", "tcp:" + port_});
        ASSERT_TRUE(sim_->started());
        unit_ = std::make_unique<vx::testing::SimUnitLink>(sim_->devicePath());
        source_ = vx::testing::openInstrument("source", "tcp:127.0.0.1:" + port_);
        ASSERT_TRUE(source_);
    }
    void TearDown() override {
        sim_.reset();
        std::system(("rm -rf " + dir_).c_str());
    }
    // What the unit reports after the run, with nothing forced.
    instrument::Reply after() {
        auto r = unit_->cycle({});
        EXPECT_TRUE(r.has_value());
        return r.value_or(instrument::Reply{});
    }

    static constexpr std::uint32_t kSeed = 31;
    std::string dir_, port_;
    std::unique_ptr<sim::SimProcess> sim_;
    std::unique_ptr<vx::testing::SimUnitLink> unit_;
    std::unique_ptr<ScpiInstrument> source_;
};

// The meter's cable pulled after a number of reads.
class Unplugged : public Transport {
public:
    Unplugged(std::unique_ptr<Transport> inner, int reads) : inner_(std::move(inner)), left_(reads) {}
    bool send(std::string_view b, std::string* reason) override { return inner_->send(b, reason); }
    ReadResult receive(char* buf, std::size_t n, std::chrono::milliseconds wait) override {
        if (--left_ < 0) return {ReadStatus::Closed, 0, "unplugged"};
        return inner_->receive(buf, n, wait);
    }

private:
    std::unique_ptr<Transport> inner_;
    int left_;
};

// A unit whose replies do not report the gains forced on it.
class GainsUnreported : public UnitLink {
public:
    explicit GainsUnreported(UnitLink& inner) : inner_(inner) {}
    std::optional<instrument::Reply> cycle(const instrument::Request& request) override {
        auto r = inner_.cycle(request);
        if (r) r->GainCh0 = r->GainCh1 = 0;
        return r;
    }
    std::string error() const override { return inner_.error(); }

private:
    UnitLink& inner_;
};

} // namespace

TEST_F(Bench, ReadingsOfRepliesNotShowingTheForcedGainAreNeverTaken) {
    auto meter = vx::testing::openInstrument("meter", dir_ + "/meter");
    ASSERT_TRUE(meter);
    GainsUnreported unit(*unit_);
    const RunReport r =
        BenchRun(unit, *meter, *source_, {.verify = false, .output = false, .store = false}).run();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "unit: the replies do not show the forced measuring path");
    EXPECT_TRUE(r.inputLines.empty());
}

TEST_F(Bench, AnUncalibratedUnitComesOutWithinOneCountAndAFiftiethPercentOnEveryRange) {
    auto meter = vx::testing::openInstrument("meter", dir_ + "/meter");
    ASSERT_TRUE(meter);
    const RunReport r = BenchRun(*unit_, *meter, *source_).run();
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.meterIdentity, "VX-SIM,Reference Meter 6.5,SIM0001,1.0");
    EXPECT_EQ(r.sourceIdentity, "VX-SIM,Calibrator,SIM0002,1.0");

    const sim::Unit unit = sim::Unit::fromSeed(kSeed);
    EXPECT_NEAR(r.output.out4mA, unit.current.pwmFor(4.0), 1.0);
    EXPECT_NEAR(r.output.out20mA, unit.current.pwmFor(20.0), 1.0);
    EXPECT_NEAR(r.output.out2V, unit.voltage.pwmFor(2.0), 1.0);
    EXPECT_NEAR(r.output.out10V, unit.voltage.pwmFor(10.0), 1.0);
    ASSERT_EQ(r.checks.size(), 2u);
    for (const CheckResult& c : r.checks)
        EXPECT_LT(std::fabs(c.errorPercent), 0.05);
    EXPECT_EQ(r.outputLines.size(), 11u);
    EXPECT_EQ(r.inputLines.size(), 14u);

    ASSERT_EQ(r.asFound.size(), instrument::kInputRangeCount);
    ASSERT_EQ(r.asLeft.size(), instrument::kInputRangeCount);
    int offAsFound = 0;
    for (std::size_t i = 0; i < r.asLeft.size(); ++i) {
        offAsFound += std::fabs(r.asFound[i].errorPercent) > 0.05;
        EXPECT_LT(std::fabs(r.asLeft[i].errorPercent), 0.05) << instrument::kInputRanges[i].name;
    }
    EXPECT_GT(offAsFound, 3); // the seeded errors were there to correct

    EXPECT_TRUE(r.outputStored && r.inputStored);
    const instrument::Reply now = after();
    EXPECT_EQ(
        now.StatusFlags & (instrument::kStatusInputUncalibrated | instrument::kStatusOutputUncalibrated), 0);
    EXPECT_EQ(now.ReservedSingle, 0.0); // the source is off
    // The store stamps today's date, as a store from the window does.
    const std::time_t clock = std::time(nullptr);
    std::tm today{};
    ASSERT_TRUE(localtime_r(&clock, &today));
    EXPECT_EQ(now.CalibrationYear, today.tm_year + 1900);
    EXPECT_EQ(now.CalibrationMonth, today.tm_mon + 1);
    EXPECT_EQ(now.CalibrationDay, today.tm_mday);
}

TEST_F(Bench, AMeterUnpluggedMidRunStopsItWithNothingStoredAndTheBenchLeftOff) {
    auto meter = vx::testing::openInstrument("meter", dir_ + "/meter", [](std::unique_ptr<Transport> t) {
        return std::make_unique<Unplugged>(std::move(t), 12);
    });
    ASSERT_TRUE(meter);
    BenchRun run(*unit_, *meter, *source_);
    const RunReport r = run.run();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("meter: connection lost waiting for the answer to MEAS:", 0), 0u) << r.error;
    EXPECT_FALSE(r.outputStored || r.inputStored);
    EXPECT_EQ(run.state().uPWMForce, 0);
    EXPECT_EQ(run.state().commandFlags, 0);
    const instrument::Reply now = after();
    EXPECT_EQ(now.StatusFlags & instrument::kStatusOutputUncalibrated, instrument::kStatusOutputUncalibrated);
    EXPECT_EQ(now.StatusFlags & instrument::kStatusInputUncalibrated, instrument::kStatusInputUncalibrated);
    EXPECT_EQ(now.ReservedSingle, 0.0);

    // A source that stops answering in the middle of the input calibration: forcing and source dropped.
    auto quiet =
        vx::testing::openInstrument("source", "tcp:127.0.0.1:" + port_, [](std::unique_ptr<Transport> t) {
            return std::make_unique<Unplugged>(std::move(t), 26);
        });
    ASSERT_TRUE(quiet);
    meter = vx::testing::openInstrument("meter", dir_ + "/meter");
    BenchRun second(*unit_, *meter, *quiet);
    const RunReport r2 = second.run();
    EXPECT_EQ(r2.error.rfind("source: connection lost waiting for the answer to SYST:ERR?", 0), 0u)
        << r2.error;
    EXPECT_FALSE(r2.inputLines.empty());
    const app::RequestInputs& s = second.state();
    EXPECT_EQ(s.uPWMForce + s.commandFlags + s.gainForceItem + s.dividerForceItem + s.rangeForceItem, 0);
    EXPECT_EQ(after().StatusFlags & instrument::kStatusInputUncalibrated,
              instrument::kStatusInputUncalibrated);
    EXPECT_EQ(after().ReservedSingle, 0.0);

    // The source refuses a level beyond its range and keeps what it had.
    source_ = vx::testing::openInstrument("source", "tcp:127.0.0.1:" + port_);
    EXPECT_FALSE(source_->source(Quantity::Voltage, 200.0));
    EXPECT_EQ(source_->error(), "source: reports error -222,\"Data out of range\"");
    EXPECT_EQ(after().ReservedSingle, 0.0);
}
