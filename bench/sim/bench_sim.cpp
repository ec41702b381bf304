// The poll cycle against vx2207-sim over a pseudo-terminal: request, reply, 50 ms pause, next request.
// One iteration is one cycle; the counters compare the cycle rate with 1 / (50 ms + wire time), the
// best a cycle can do, and tell the simulator's CPU time per reply.
#include "bench/support/proc.h"
#include "instrument/exchange.h"
#include "sim/harness.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

using namespace vx::sim;
using namespace vx::instrument;

namespace {

constexpr std::uint16_t kPauseMs = 50;

void BM_PollCycle(benchmark::State& state) {
    const unsigned baud = static_cast<unsigned>(state.range(0));
    std::vector<std::string> args{"--noise", "40"};
    if (baud > 0) args.insert(args.end(), {"--baud", std::to_string(baud)});
    SimProcess sim(VX2207_SIM, args);
    Master master(sim.devicePath());
    if (!sim.started() || !master.isOpen()) {
        state.SkipWithError("simulator not started");
        return;
    }
    Request q;
    q.Year = 2014;
    q.Month = 3;
    q.Day = 15;
    // Warm up: the first exchange pays for the process start.
    master.exchange(q);

    const double cpuBefore = cpuNs(sim.pid());
    double seconds = 0;
    std::int64_t cycles = 0;
    for (auto _ : state) {
        const Outcome o = master.exchange(q, std::chrono::milliseconds(3000), kPauseMs);
        if (o.status != mb::stOK) {
            state.SkipWithError("transaction failed");
            return;
        }
        const double s = std::chrono::duration<double>(o.elapsed).count();
        state.SetIterationTime(s);
        seconds += s;
        ++cycles;
    }
    const double cpuPerReply = (cpuNs(sim.pid()) - cpuBefore) / static_cast<double>(cycles);
    // Wire time of what is paced: the reply, two characters of ten bits per frame byte.
    const double wire = baud > 0 ? (kReplySize + 5) * 2 * 10.0 / baud : 0.0;
    const double limit = 1.0 / (kPauseMs / 1000.0 + wire);
    const double rate = static_cast<double>(cycles) / seconds;
    state.counters["cycles_per_s"] = rate;
    state.counters["limit_per_s"] = limit;
    state.counters["pct_of_limit"] = 100.0 * rate / limit;
    state.counters["sim_cpu_us_per_reply"] = cpuPerReply / 1000.0;
}

} // namespace

// 0 = unpaced; 115200 = the simulator paces its output at the link's default rate.
BENCHMARK(BM_PollCycle)->Arg(0)->Arg(115200)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
