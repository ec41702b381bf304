// Polling through a serial device server (Debian's ser2net on the loopback address, raw and RFC 2217)
// against polling the simulator's pseudo-terminal directly. The three run interleaved in every
// iteration, so each ratio compares figures taken side by side; medians come from the repetitions.
// Also: the time from a server restart to the first good reply over a new connection.
#include "link/netchannel.h"
#include "ser2net.h"
#include "sim/harness.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// One simulator per path: a server holds its device open and reads all it delivers.
struct Paths {
    vx::sim::SimProcess sim{VX2207_SIM, {}}, simRaw{VX2207_SIM, {}}, simRfc{VX2207_SIM, {}};
    Ser2net raw{simRaw.devicePath(), mb::port::NetKind::Raw};
    Ser2net rfc{simRfc.devicePath(), mb::port::NetKind::Rfc2217};
    mb::port::NetChannel rawChannel, rfcChannel;
    std::unique_ptr<vx::sim::Master> pty, overRaw, overRfc;

    bool open() {
        if (!sim.started() || !simRaw.started() || !simRfc.started() || !raw.start() || !rfc.start())
            return false;
        mb::port::OpenError err;
        const auto connect = [&](mb::port::NetChannel& c, const Ser2net& s) {
            return c.open(*mb::port::parseNetAddress(s.address()), {}, mb::port::kDefaultConnectBound, &err);
        };
        if (!connect(rawChannel, raw) || !connect(rfcChannel, rfc)) return false;
        overRaw = std::make_unique<vx::sim::Master>(rawChannel);
        overRfc = std::make_unique<vx::sim::Master>(rfcChannel);
        pty = std::make_unique<vx::sim::Master>(sim.devicePath());
        return pty->isOpen();
    }
};

// Polls per second over `cycles` transactions with the given pause before each request.
double rate(vx::sim::Master& m, int cycles, std::uint16_t pauseMs, bool* failed) {
    const auto t0 = Clock::now();
    for (int i = 0; i < cycles; ++i)
        if (m.exchange(vx::instrument::Request{}, 2000ms, pauseMs).status != mb::stOK) *failed = true;
    return cycles / std::chrono::duration<double>(Clock::now() - t0).count();
}

void pollRates(benchmark::State& state, std::uint16_t pauseMs, int cycles) {
    Paths p;
    if (!p.open()) {
        state.SkipWithError("simulator or ser2net did not start");
        return;
    }
    double pty = 0, raw = 0, rfc = 0;
    bool failed = false;
    for (auto _ : state) {
        pty = rate(*p.pty, cycles, pauseMs, &failed);
        raw = rate(*p.overRaw, cycles, pauseMs, &failed);
        rfc = rate(*p.overRfc, cycles, pauseMs, &failed);
    }
    if (failed) state.SkipWithError("a poll failed");
    state.counters["pty_per_s"] = pty;
    state.counters["raw_per_s"] = raw;
    state.counters["rfc2217_per_s"] = rfc;
    state.counters["raw_ratio"] = raw / pty;
    state.counters["rfc2217_ratio"] = rfc / pty;
}

// The configurator's poll cycle: a 50 ms pause after each reply.
void BM_PollCycleRate(benchmark::State& state) {
    pollRates(state, 50, 20);
}
BENCHMARK(BM_PollCycleRate)->Iterations(1)->Unit(benchmark::kSecond);

// Back to back, no pause: what the server's hop itself costs.
void BM_BackToBackRate(benchmark::State& state) {
    pollRates(state, 0, 200);
}
BENCHMARK(BM_BackToBackRate)->Iterations(1)->Unit(benchmark::kSecond);

// From the server's restart (its process started again) to the first good reply over a new
// connection, retrying the connect every 10 ms while it is refused.
void BM_ReconnectAfterServerRestart(benchmark::State& state) {
    vx::sim::SimProcess sim(VX2207_SIM, {});
    for (auto _ : state) {
        state.PauseTiming();
        auto server =
            std::make_unique<Ser2net>(sim.devicePath(), static_cast<mb::port::NetKind>(state.range(0)));
        const auto address = *mb::port::parseNetAddress(server->address());
        state.ResumeTiming();
        const auto t0 = Clock::now();
        server->start();
        bool good = false;
        while (!good && Clock::now() - t0 < 5s) {
            mb::port::NetChannel c;
            if (c.open(address, {}, 1000ms, nullptr)) {
                vx::sim::Master m(c);
                good = m.exchange(vx::instrument::Request{}, 1000ms).status == mb::stOK;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
        if (!good) state.SkipWithError("no good reply after the restart");
        state.PauseTiming();
        server.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ReconnectAfterServerRestart)
    ->Arg(static_cast<int>(mb::port::NetKind::Raw))
    ->Arg(static_cast<int>(mb::port::NetKind::Rfc2217))
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
