// The configurator's window (offscreen, shown, so every refresh is painted) polling vx2207-sim over a
// pseudo-terminal: cycle rate against 1 / (50 ms + wire time), the configurator's CPU time per cycle
// (everything it does: link, decoding, display), and its resident memory at the start and the end.
// BENCH_SECONDS sets the length of each run (default 30). A last run with the window hidden separates
// the cost of painting from the rest.
#include "app/DUTHiba.h"
#include "app/Main.h"
#include "link/mb.h"
#include "sim/harness.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long residentKiB() {
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// shown: the window on screen, so every refresh is painted; hidden tells how much of that is painting.
void run(unsigned baud, double seconds, bool shown) {
    std::vector<std::string> args{"--calibrated", "--signal", "sine:4:20:5"};
    if (baud) args.insert(args.end(), {"--baud", std::to_string(baud)});
    vx::sim::SimProcess sim(VX2207_SIM, args);
    QTemporaryDir dir;
    TForm_Main::Options o;
    o.settingsPath = dir.filePath("bench.ini");
    o.arguments = QStringList{"/QARNEL"}; // every page and group on screen
    TForm_Main w(std::move(o));
    TForm_DUTHiba dialog(&w);
    w.setFirmwareDialog(&dialog);
    if (shown) w.show();
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(sim.devicePath()));
    if (!sim.started() || !w.MB1->MBOpenPort(QString::fromStdString(sim.devicePath()))) {
        std::printf("simulator or port not available\n");
        return;
    }

    // Per one-second window: cycles and CPU, so the figures are medians rather than one average.
    std::vector<double> periodsMs, cpuPerCycleMs;
    QElapsedTimer clock;
    qint64 lastReply = -1;
    int windowCycles = 0;
    double windowCpu = 0;
    long rssStart = 0;
    int cycles = 0;
    // Where a cycle's time goes: from the request's start to the reply on screen, the rest is the pause.
    std::vector<double> transactionMs;
    qint64 sendingAt = -1;
    auto previous = w.MB1->engine().OnMBStatusNowChanged;
    w.MB1->engine().OnMBStatusNowChanged = [&, previous](mb::TMBStatusNow now, const std::string& text) {
        if (now == mb::stnSending) sendingAt = clock.nsecsElapsed();
        if (previous) previous(now, text);
    };
    QObject::connect(&w, &TForm_Main::replyShown, [&] {
        if (sendingAt >= 0) transactionMs.push_back((clock.nsecsElapsed() - sendingAt) / 1e6);
        const qint64 now = clock.nsecsElapsed();
        if (lastReply >= 0) periodsMs.push_back((now - lastReply) / 1e6);
        lastReply = now;
        ++cycles;
        ++windowCycles;
    });
    // Warm up for a second, then measure.
    QTimer warm;
    warm.setSingleShot(true);
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
    clock.start();
    periodsMs.clear();
    transactionMs.clear();
    lastReply = -1;
    cycles = 0;
    rssStart = residentKiB();
    windowCpu = cpuSeconds();
    windowCycles = 0;
    QTimer window;
    QObject::connect(&window, &QTimer::timeout, [&] {
        const double cpu = cpuSeconds();
        if (windowCycles > 0) cpuPerCycleMs.push_back((cpu - windowCpu) * 1e3 / windowCycles);
        windowCpu = cpu;
        windowCycles = 0;
    });
    window.start(1000);
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    window.stop();
    const long rssEnd = residentKiB();
    w.MB1->MBClosePort();

    const double wire = baud ? (98 * 2 * 10.0) / baud : 0.0; // the paced reply
    const double limit = 1.0 / (0.050 + wire);
    const double period = median(periodsMs);
    const double rate = period > 0 ? 1000.0 / period : 0;
    std::printf("%-7s %-6s cycles %5d  median period %7.3f ms  rate %6.2f/s  limit %6.2f/s  (%5.1f%%)  "
                "CPU/cycle median %.3f ms  RSS %.1f -> %.1f MiB  (request to reply shown %.3f ms)\n",
                baud ? "115200" : "unpaced", shown ? "shown" : "hidden", cycles, period, rate, limit,
                100 * rate / limit, median(cpuPerCycleMs), rssStart / 1024.0, rssEnd / 1024.0,
                median(transactionMs));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = false;
    double seconds = qEnvironmentVariableIntValue("BENCH_SECONDS", &ok);
    if (!ok || seconds <= 0) seconds = 30;
    run(0, seconds, true);
    run(115200, seconds, true);
    run(0, seconds, false);
    return 0;
}
