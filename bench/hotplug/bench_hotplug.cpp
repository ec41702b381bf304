// The hot-plug watch: how long a device appearing or going takes to reach the port list, and what the
// idle configurator costs in CPU while the watch is armed.
#include "bench/support/proc.h"
#include "bench/support/widgetmain.h"
#include "link/mb.h"
#include "link/portdiscovery.h"
#include "link/serialport_posix.h"
#include "ptypair.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <benchmark/benchmark.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;
namespace fs = std::filesystem;

namespace {

bool listed(const TMB& mb, const std::string& path) {
    for (const auto& e : mb.MBPortEntries())
        if (e.info.path == path) return true;
    return false;
}

// A link to a pseudo-terminal made and removed, as the simulator's --link or udev's nodes come and go;
// the time runs from the file-system call to the list showing the change.
void BM_DeviceEventToList(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("vx_bench_hotplug_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string link = (dir / "vx.tty").string();
    PtyPair pty;
    ::setenv("MB_EXTRA_PORTS", link.c_str(), 1);
    TMB mb;
    auto* refresh = mb.findChild<QPushButton*>("Button_Refresh");
    while (!refresh->isEnabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    bool present = false;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        present = !present;
        if (present)
            fs::create_symlink(pty.slavePath(), link);
        else
            fs::remove(link);
        while (listed(mb, link) != present && t.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (listed(mb, link) != present) {
            state.SkipWithError("the list did not follow within 2 s");
            break;
        }
        state.SetIterationTime(static_cast<double>(t.nsecsElapsed()) / 1e9);
    }
    fs::remove_all(dir);
    ::unsetenv("MB_EXTRA_PORTS");
}
BENCHMARK(BM_DeviceEventToList)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

// A list rebuild on the window's thread with eight busy ports (held by this process), as the hot-plug
// watch or Refresh triggers it during polling. Arg 0: the panel's rebuild, whose scan of /proc for the
// holders runs on a thread of its own; arg 1: the same list with every busy port's holders looked up
// one by one on the calling thread, as the rebuild did before.
void BM_ListRebuildWithBusyPorts(benchmark::State& state) {
    std::vector<std::unique_ptr<PtyPair>> ptys;
    std::vector<std::unique_ptr<mb::port::SerialPort>> holders;
    std::string extra;
    for (int i = 0; i < 8; ++i) {
        ptys.push_back(std::make_unique<PtyPair>());
        holders.push_back(std::make_unique<mb::port::SerialPort>());
        holders.back()->open(ptys.back()->slavePath(), {}, nullptr);
        extra += (extra.empty() ? "" : ":") + ptys.back()->slavePath();
    }
    ::setenv("MB_EXTRA_PORTS", extra.c_str(), 1);
    TMB mb;
    auto* refresh = mb.findChild<QPushButton*>("Button_Refresh");
    while (!refresh->isEnabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    for (auto _ : state) {
        if (state.range(0) == 0)
            mb.MBRefreshPortList();
        else
            benchmark::DoNotOptimize(
                mb::port::buildPortList(mb::port::candidatePorts(), mb::port::probeForList, ""));
        state.PauseTiming();
        QCoreApplication::processEvents(); // the scan's result, outside the timing
        state.ResumeTiming();
    }
    ::unsetenv("MB_EXTRA_PORTS");
}
BENCHMARK(BM_ListRebuildWithBusyPorts)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// Times the process was woken from sleep (all threads).
double wakeups(pid_t pid) {
    double sum = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) sum += std::stod(line.substr(24));
    }
    return sum;
}

int inotifyWatches(pid_t pid) {
    int n = 0;
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fdinfo", ec)) {
        std::ifstream info(fd.path());
        for (std::string line; std::getline(info, line);)
            n += line.rfind("inotify wd:", 0) == 0;
    }
    return n;
}

// The configurator started as a user would, its port list built and the watch armed, then left alone
// for 60 s: the share of one core it uses, and how often it wakes (the panel's one-second statistics
// tick wakes it once a second; the watch adds nothing while nothing changes).
void BM_IdleProgramCpu(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("vx_bench_idle_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string link = (dir / "vx.tty").string();
    PtyPair pty;
    fs::create_symlink(pty.slavePath(), link);
    ::setenv("MB_EXTRA_PORTS", link.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string settings = (dir / "vx.ini").string();
    char* argv[] = {const_cast<char*>(VX_CONFIG_EXE), const_cast<char*>("--settings"),
                    const_cast<char*>(settings.c_str()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, VX_CONFIG_EXE, nullptr, nullptr, argv, environ) != 0) {
        state.SkipWithError("the configurator did not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(3)); // shown, list built, watch armed
    double share = 0, perSecond = 0;
    int watches = 0;
    for (auto _ : state) {
        watches = inotifyWatches(pid);
        const double before = cpuNs(pid), woken = wakeups(pid);
        std::this_thread::sleep_for(std::chrono::seconds(60));
        share = (cpuNs(pid) - before) / 60e9 * 100.0;
        perSecond = (wakeups(pid) - woken) / 60.0;
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    fs::remove_all(dir);
    state.counters["cpu_percent"] = share;
    state.counters["wakeups_per_s"] = perSecond;
    state.counters["inotify_watches"] = watches;
    if (watches == 0) state.SkipWithError("no inotify watch in the idle program");
}
BENCHMARK(BM_IdleProgramCpu)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
