// A complete automatic run on the simulated bench at 115200 bit/s: the input as found, the output and
// input calibrations, the store and the input as left, against an uncalibrated unit with its SCPI
// meter on a pseudo-terminal and its SCPI source on a loopback TCP port. One iteration is one run.
// The counters say where the time goes and compare the run with its floor: the same points with
// every settling done in the least the rule allows (two meter readings per output point, two fresh
// poll cycles per converter reading), at the median cost of a cycle and of a meter reading.
// The argument is the meter's settling time constant (ms): with one, the counters also say how many
// time constants each meter point waited, and how far the calibration landed from the true PWM values.
#include "sim/model.h"
#include "sim/unit.h"
#include "simbench.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <unistd.h>

using namespace vx;

namespace {

void BM_AutomaticRun(benchmark::State& state) {
    char pattern[] = "/tmp/vx-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = pattern, port = std::to_string(20000 + getpid() % 20000);
    const auto settleMs = state.range(0);
    station::RunOptions options;
    options.meterReadings = 40;
    // Readings a time constant apart: back to back they would agree long before the lag settled.
    station::ScpiProfile meterProfile;
    meterProfile.meterSpacing = std::chrono::milliseconds(settleMs);
    station::RunTimes t;
    double offCounts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim::SimProcess sim(VX2207_SIM, {"--baud", "115200", "--scpi-meter", dir + "/meter", "--scpi-source",
                                         "tcp:" + port, "--meter-settle", std::to_string(settleMs)});
        testing::SimUnitLink unit(sim.devicePath());
        auto meter = testing::openInstrument("meter", dir + "/meter", nullptr, meterProfile);
        auto source = testing::openInstrument("source", "tcp:127.0.0.1:" + port);
        if (!sim.started() || !meter || !source) {
            state.SkipWithError("bench not started");
            return;
        }
        state.ResumeTiming();
        const station::RunReport r = station::BenchRun(unit, *meter, *source, options).run();
        if (!r.ok) {
            state.SkipWithError(r.error.c_str());
            return;
        }
        t = r.times;
        const sim::Unit truth = sim::Unit::fromSeed(sim::ModelConfig{}.seed);
        offCounts = std::max({std::fabs(r.output.out4mA - truth.current.pwmFor(4.0)),
                              std::fabs(r.output.out20mA - truth.current.pwmFor(20.0)),
                              std::fabs(r.output.out2V - truth.voltage.pwmFor(2.0)),
                              std::fabs(r.output.out10V - truth.voltage.pwmFor(10.0))});
    }
    const double cycle = t.cycleWait / t.cycles, reading = t.meterWait / t.meterReadings;
    const int extraCycles = t.settleCycles - 2 * t.waits, extraReadings = t.meterReadings - 2 * t.meterPoints;
    const double floor = t.total - extraCycles * cycle - extraReadings * reading;
    state.counters["total_s"] = t.total;
    state.counters["cycles"] = t.cycles;
    state.counters["cycle_ms"] = cycle * 1e3;
    state.counters["cycles_s"] = t.cycleWait;
    state.counters["meter_readings"] = t.meterReadings;
    state.counters["meter_ms"] = reading * 1e3;
    state.counters["meter_s"] = t.meterWait;
    state.counters["source_s"] = t.sourceWait;
    state.counters["settle_extra_s"] = extraCycles * cycle + extraReadings * reading;
    state.counters["verify_s"] = t.verify;
    state.counters["output_s"] = t.output;
    state.counters["input_s"] = t.input;
    state.counters["store_s"] = t.store;
    state.counters["floor_s"] = floor;
    state.counters["total_to_floor"] = t.total / floor;
    state.counters["output_off_counts"] = offCounts;
    if (settleMs > 0)
        state.counters["meter_wait_per_point_tau"] = t.meterWait / t.meterPoints / (settleMs / 1e3);
    ::rmdir((dir + "/meter").c_str());
    ::rmdir(dir.c_str());
}
BENCHMARK(BM_AutomaticRun)->Arg(0)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
