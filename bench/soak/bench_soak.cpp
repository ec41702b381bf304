// Soak: 100 000 transactions of the master engine against the simulator (in this process, on
// pseudo-terminals) with 3 % of the replies dropped, 3 % corrupted, 2 % held back past the time-out and
// random characters before every reply, unpaced (each request goes out as soon as the last one ended).
// Every transaction must end exactly once, the outcomes must add up to what the simulator injected, and
// resident memory must not grow by 1 MiB or more between the first and the last 10 000 transactions.
//
// A time-out cannot tell a dropped, a corrupted and a late reply apart, so after one the link listens
// until a late reply would have come: arriving then, it ends the transaction a second time (with
// stOK, as a late reply does), and is counted as late. Thirty-two links run side by side so that these
// waits overlap; the machine does the same work as one link would.
#include "instrument/exchange.h"
#include "sim/harness.h"
#include "sim/simulator.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vx::sim;
using namespace std::chrono_literals;

namespace {

constexpr int kTransactions = 100000; // VX_SOAK_TRANSACTIONS asks for fewer, for a quick look
constexpr int kLinks = 32;
constexpr int kWindow = 10000; // memory is compared after the first and the last this many
constexpr auto kTimeOut = 150ms;
constexpr auto kLate = 600ms;
// A reply that misses the time-out only because the machine is busy comes well before a late one; a
// late one comes well before the listening ends, even on a machine that other work keeps busy.
constexpr auto kLateFrom = 400ms;
constexpr auto kListen = 1200ms;

unsigned long long ull(std::uint64_t v) {
    return static_cast<unsigned long long>(v);
}

long residentKiB() {
    std::ifstream f("/proc/self/statm");
    long size = 0, resident = 0;
    f >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Tally {
    std::uint64_t transactions = 0, ok = 0, timeOut = 0, otherStatus = 0, lateOk = 0, slowOk = 0,
                  strayEnds = 0, missingEnds = 0, replies = 0;
    InjectedFaults injected;
    void add(const Tally& t) {
        transactions += t.transactions;
        ok += t.ok;
        timeOut += t.timeOut;
        otherStatus += t.otherStatus;
        lateOk += t.lateOk;
        slowOk += t.slowOk;
        strayEnds += t.strayEnds;
        missingEnds += t.missingEnds;
        replies += t.replies;
        injected.dropped += t.injected.dropped;
        injected.corrupted += t.injected.corrupted;
        injected.late += t.injected.late;
        injected.lateCorrupted += t.injected.lateCorrupted;
    }
};

std::atomic<int> completed{0};
std::atomic<long> rssAfterFirst{-1};
long rssAtEnd = -1;

// Every link, done with its transactions, waits here with its master and simulator still alive: the
// last to arrive measures the memory, as it stands after the last 10 000 transactions.
using EndBarrier = std::barrier<void (*)() noexcept>;

Tally runLink(int index, int transactions, EndBarrier& end) {
    Tally t;
    Pty pty;
    std::string error;
    if (!openPty(&pty, &error)) {
        end.arrive_and_drop(); // counted as missing: its transactions never happen
        return t;
    }
    Options options;
    options.model.seed = 2207 + static_cast<std::uint32_t>(index);
    options.dropShare = 0.03;
    options.corruptShare = 0.03;
    options.lateShare = 0.02;
    options.lateMs = static_cast<unsigned>(kLate.count());
    options.garbageBytes = 6;
    volatile std::sig_atomic_t stop = 0; // read by the simulator's loop at least every 200 ms
    Simulator sim(options, pty.master, factoryMemory(0), false);
    std::thread simulator([&] { sim.serve(&stop); });

    {
        Master master(pty.path);
        mb::LinkEngine& e = master.engine;
        e.setMBBaud(mb::baud921600); // the line time the time-out adds stays small
        e.setMBMasterTimeOut(static_cast<std::uint16_t>(kTimeOut.count()));
        e.setMBMasterMaxTryNumber(1); // one request, one reply decision of the simulator
        std::vector<std::pair<mb::TMBStatus, Clock::time_point>> ends;
        e.OnMBMasterEndOfEvent = [&](mb::TMBStatus s, const std::string&) {
            ends.emplace_back(s, Clock::now());
        };
        vx::instrument::Request q;
        q.Year = 2014;
        q.Month = 3;
        q.Day = 15;
        const auto bytes = vx::instrument::encodeRequest(q);
        for (int i = 0; i < transactions; ++i) {
            ends.clear();
            e.MBClearTXDataBuffer();
            e.setMBMasterCommandToSlave(vx::instrument::kExchangeCommand);
            for (std::uint8_t b : bytes)
                e.MBTXPutByte(b);
            const auto sent = Clock::now();
            e.MBMasterSend(0);
            while (ends.empty() && master.runOnce(sent + 5s)) {
            }
            ++t.transactions;
            if (ends.empty()) {
                ++t.missingEnds;
                continue;
            }
            if (ends[0].first == mb::stOK) {
                ++t.ok;
            } else if (ends[0].first == mb::stTimeOut) {
                ++t.timeOut;
                while (master.runOnce(sent + kListen)) {
                }
            } else {
                ++t.otherStatus;
            }
            for (std::size_t k = 1; k < ends.size(); ++k) {
                if (k == 1 && ends[0].first == mb::stTimeOut && ends[1].first == mb::stOK)
                    ++(ends[1].second - sent >= kLateFrom ? t.lateOk : t.slowOk);
                else
                    ++t.strayEnds;
            }
            if (completed.fetch_add(1) + 1 == kWindow) rssAfterFirst = residentKiB();
        }
        end.arrive_and_wait();
    }
    stop = 1;
    simulator.join();
    t.replies = sim.repliesSent();
    t.injected = sim.injected();
    closePty(&pty);
    return t;
}

void BM_Soak(benchmark::State& state) {
    const char* asked = std::getenv("VX_SOAK_TRANSACTIONS");
    const int transactions = asked ? std::max(kLinks, std::atoi(asked)) / kLinks * kLinks : kTransactions;
    Tally total;
    long rssGrowth = 0;
    for (auto _ : state) {
        completed = 0;
        rssAfterFirst = -1;
        EndBarrier end(kLinks, []() noexcept { rssAtEnd = residentKiB(); });
        std::vector<std::thread> links;
        std::vector<Tally> tallies(kLinks);
        for (int k = 0; k < kLinks; ++k)
            links.emplace_back([&, k] { tallies[k] = runLink(k, transactions / kLinks, end); });
        for (auto& l : links)
            l.join();
        rssGrowth = rssAfterFirst < 0 ? 0 : rssAtEnd - rssAfterFirst;
        for (const Tally& t : tallies)
            total.add(t);
    }
    const InjectedFaults& f = total.injected;
    // A reply the simulator sent intact and on time ends its transaction with stOK; one that only a busy
    // machine delayed past the time-out is counted as slow, apart from the injected late ones.
    const std::uint64_t lateIntact = f.late - f.lateCorrupted;
    const std::uint64_t onTime = total.replies - f.dropped - f.corrupted - lateIntact;
    const bool endsOk = total.missingEnds == 0 && total.strayEnds == 0 && total.otherStatus == 0 &&
                        total.transactions == static_cast<std::uint64_t>(transactions) &&
                        total.replies == total.transactions;
    const bool countsOk = total.ok + total.slowOk == onTime && total.lateOk == lateIntact &&
                          total.timeOut == f.dropped + f.corrupted + lateIntact + total.slowOk;
    const bool memoryOk = rssGrowth < 1024;
    auto& c = state.counters;
    c["transactions"] = static_cast<double>(total.transactions);
    c["ok"] = static_cast<double>(total.ok);
    c["time_out"] = static_cast<double>(total.timeOut);
    c["late_ok"] = static_cast<double>(total.lateOk);
    c["slow_ok"] = static_cast<double>(total.slowOk);
    c["stray_ends"] = static_cast<double>(total.strayEnds);
    c["missing_ends"] = static_cast<double>(total.missingEnds);
    c["inj_dropped"] = static_cast<double>(f.dropped);
    c["inj_corrupted"] = static_cast<double>(f.corrupted);
    c["inj_late"] = static_cast<double>(f.late);
    c["inj_late_corrupted"] = static_cast<double>(f.lateCorrupted);
    c["rss_growth_kib"] = static_cast<double>(rssGrowth);
    std::fprintf(
        stderr,
        "soak: %llu transactions, %llu ok, %llu time-outs, %llu late ends, %llu slow ends, %llu stray ends,"
        " %llu missing ends; injected %llu dropped, %llu corrupted, %llu late (%llu of them corrupted);"
        " resident memory grew %ld KiB\n",
        ull(total.transactions), ull(total.ok), ull(total.timeOut), ull(total.lateOk), ull(total.slowOk),
        ull(total.strayEnds), ull(total.missingEnds), ull(f.dropped), ull(f.corrupted), ull(f.late),
        ull(f.lateCorrupted), rssGrowth);
    if (!endsOk)
        state.SkipWithError("a transaction did not end exactly once");
    else if (!countsOk)
        state.SkipWithError("outcomes do not match what the simulator injected");
    else if (!memoryOk)
        state.SkipWithError("resident memory grew by 1 MiB or more");
}

} // namespace

// One long run: repetitions would only repeat the same 100 000 transactions.
BENCHMARK(BM_Soak)->Iterations(1)->Repetitions(1)->UseRealTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
