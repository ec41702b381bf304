#pragma once
// A complete automatic run on a bench, without a window: the unit's input as found, the output and
// input calibrations, the store, and the input as left. It keeps the window state an engineer's clicks
// would change (the request's fields, the wizard's values and lists, the input procedure's state), lets
// the two state machines decide, and carries out what they ask. Any failure of the unit's link, the meter
// or the source stops it: nothing stored, the output unforced, the source off, and the report says which
// instrument failed and how.
#include "app/Exchange.h"
#include "app/ServicePages.h"
#include "station/autocal.h"
#include "station/scpi.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vx::station {

// A meter reading once two in a row agree within `relative` of the reading (at most `readings`, taken
// the meter profile's meterSpacing apart); the meter's error otherwise (*error).
std::optional<double> settledReading(ScpiInstrument& meter, Quantity quantity, double relative, int readings,
                                     std::string* error, int* taken = nullptr);
// Puts the source into the setting: off, 0 V, or a level with its output on. False with the source's error.
bool applySource(ScpiInstrument& source, const SourceSetting& setting);

// The unit's side: one poll cycle, the pause before the request included. Nothing when no good reply
// came (error() says why).
class UnitLink {
public:
    virtual ~UnitLink() = default;
    virtual std::optional<instrument::Reply> cycle(const instrument::Request& request) = 0;
    virtual std::string error() const = 0;
};

struct RunOptions {
    bool verify = true; // as-found and as-left readings of every input range
    bool output = true, input = true;
    bool store = true;          // the engineer ticked "store when done"
    double meterSettle = 20e-6; // two meter readings this close (relative) count as settled
    int meterReadings = 12;     // readings allowed for that (spaced as the meter's profile says)
    int storeCycles = 20;       // cycles allowed for the store to be acknowledged
};

struct VerifyPoint {
    int range = 0;           // InputRangeIndex
    double nominal = 0;      // the reference applied, in the range's unit
    double reading = 0;      // InputValue
    double errorPercent = 0; // of the reference
};

// Where the time went, for the benchmark.
struct RunTimes {
    double total = 0, verify = 0, output = 0, input = 0, store = 0; // seconds
    double cycleWait = 0, meterWait = 0, sourceWait = 0;            // seconds spent in each
    int cycles = 0, meterReadings = 0, sourceSettings = 0;
    int meterPoints = 0;  // settled meter readings asked for (each needs two readings at least)
    int waits = 0;        // settled converter readings asked for (each needs two fresh cycles at least)
    int settleCycles = 0; // fresh cycles taken for those
};

struct RunReport {
    bool ok = false;
    std::string error;
    std::string meterIdentity, sourceIdentity;
    app::OutputCalibrationValues output;
    app::CalibrationValues low{}, high{};
    std::vector<std::string> outputLines, inputLines; // what the two pages' lists show
    std::vector<CheckResult> checks;
    std::vector<VerifyPoint> asFound, asLeft;
    bool outputStored = false, inputStored = false;
    RunTimes times;
};

class BenchRun {
public:
    BenchRun(UnitLink& unit, ScpiInstrument& meter, ScpiInstrument& source, RunOptions options = {});
    RunReport run();
    // From any thread: the run stops at the next cycle, leaving everything unforced.
    void requestStop() { stop_ = true; }
    // The request fields the run has set (the window's state), for a look after it ended.
    const app::RequestInputs& state() const { return state_; }

private:
    instrument::Request nextRequest();
    std::optional<instrument::Reply> cycle();
    bool fail(const std::string& what);
    bool applyPwm(int value);
    std::optional<double> settledMeter(Quantity quantity);
    bool runOutput();
    bool runInput();
    bool verifyInputs(std::vector<VerifyPoint>* points);
    bool setSource(const SourceSetting& s);
    bool storeCommand(std::uint8_t bit);
    void unforce();

    UnitLink& unit_;
    ScpiInstrument& meter_;
    ScpiInstrument& source_;
    RunOptions options_;
    std::atomic<bool> stop_{false};
    app::RequestInputs state_;
    std::optional<instrument::Reply> last_;
    app::FreshReading fresh_; // whether the last reply's converter readings may be taken
    RunReport report_;
};

} // namespace vx::station
