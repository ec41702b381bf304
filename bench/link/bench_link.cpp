// The link component over a pseudo-terminal: how long a reply takes from the far side's write to the
// decoder on the GUI thread, and what an open but idle port costs in CPU.
#include "bench/support/widgetmain.h"
#include "link/core/crc16.h"
#include "link/core/linecode.h"
#include "link/mb.h"
#include "ptypair.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <sys/resource.h>

namespace {

std::vector<std::uint8_t> replyFrame() {
    std::vector<std::uint8_t> f = {0x81, 0, 0, 1, 2, 3, 4};
    const std::uint16_t crc = mb::crc16(f.data(), f.size());
    f.push_back(static_cast<std::uint8_t>(crc));
    f.push_back(static_cast<std::uint8_t>(crc >> 8));
    std::vector<std::uint8_t> out(2 * f.size());
    mb::encodeFrame(f.data(), f.size(), out.data());
    return out;
}

// A component opened on a fresh pseudo-terminal, as a user would open it.
struct Link {
    PtyPair pty;
    TMB mb;
    Link() {
        ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
        auto* open = mb.findChild<QPushButton*>("SpeedButton_Open");
        while (!open->isEnabled())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        mb.MBOpenPort(QString::fromStdString(pty.slavePath()));
    }
};

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Far-side write of a whole reply to the decoder's acceptance of it (the end-of-transaction event).
void BM_PtyReplyToDecoder(benchmark::State& state) {
    Link link;
    if (!link.mb.MBPortOpen()) {
        state.SkipWithError("port did not open");
        return;
    }
    const std::vector<std::uint8_t> reply = replyFrame();
    bool ended = false;
    link.mb.OnMBMasterEndOfEvent = [&](mb::TMBStatus, const std::string&) { ended = true; };
    for (auto _ : state) {
        ended = false;
        link.mb.MBClearTXDataBuffer();
        link.mb.MBMasterSend(0);
        link.pty.read(10); // the request: five frame bytes, two characters each
        const auto t0 = std::chrono::steady_clock::now();
        link.pty.write(reply);
        while (!ended)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    link.mb.MBClosePort();
}
BENCHMARK(BM_PtyReplyToDecoder)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);

// CPU share of one core while the port is open and the line idle for 10 s.
void BM_IdleOpenPortCpu(benchmark::State& state) {
    Link link;
    double share = 0;
    for (auto _ : state) {
        const double before = cpuSeconds();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        share = (cpuSeconds() - before) / 10.0 * 100.0;
    }
    state.counters["cpu_percent"] = share;
    link.mb.MBClosePort();
}
BENCHMARK(BM_IdleOpenPortCpu)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
