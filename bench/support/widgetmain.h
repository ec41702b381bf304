#pragma once
// The main() of a benchmark program that needs widgets: a QApplication on the offscreen platform unless
// one is chosen, then Google Benchmark. `setUp` runs once the application exists; what it returns (shared
// fixtures) is kept until the benchmarks have run, while the application still exists.
#include <QApplication>
#include <benchmark/benchmark.h>

template <typename SetUp = int (*)()>
int runWidgetBenchmarks(
    int argc, char** argv, SetUp setUp = [] { return 0; }) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    {
        [[maybe_unused]] const auto fixtures = setUp();
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}
