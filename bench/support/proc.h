#pragma once
// What a benchmark reads about another process from /proc.
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/types.h>

// Nanoseconds on a CPU of all the process's threads (the scheduler's own account, finer than clock
// ticks).
inline double cpuNs(pid_t pid) {
    double sum = 0;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        double ns = 0;
        std::ifstream(task.path() / "schedstat") >> ns;
        sum += ns;
    }
    return sum;
}
