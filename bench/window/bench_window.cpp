// Start-up of the configurator: time from process start to the main window shown (offscreen) and the
// resident memory at that moment. vx_window_tour starts the window as vx2207-config does, prints a line
// once it painted and quits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Run {
    double seconds = -1;
    long rssKiB = -1;
};

Run startOnce() {
    int fds[2];
    if (pipe(fds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char* argv[] = {const_cast<char*>(VX_WINDOW_TOUR), const_cast<char*>("--report-shown"), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, VX_WINDOW_TOUR, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    Run run;
    if (rc == 0) {
        std::string out;
        char buf[256];
        ssize_t n;
        while (out.find('\n') == std::string::npos && (n = read(fds[0], buf, sizeof buf)) > 0)
            out.append(buf, n);
        const auto shown = std::chrono::steady_clock::now();
        if (const auto at = out.find("shown rss_kib="); at != std::string::npos) {
            run.seconds = std::chrono::duration<double>(shown - start).count();
            run.rssKiB = std::strtol(out.c_str() + at + 14, nullptr, 10);
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
    close(fds[0]);
    return run;
}

void BM_StartToShown(benchmark::State& state) {
    long rss = 0;
    for (auto _ : state) {
        const Run run = startOnce();
        if (run.seconds < 0) {
            state.SkipWithError("the configurator did not report its window");
            break;
        }
        state.SetIterationTime(run.seconds);
        rss = run.rssKiB;
    }
    state.counters["rss_MiB"] = static_cast<double>(rss) / 1024.0;
}
BENCHMARK(BM_StartToShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
