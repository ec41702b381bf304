// The calibration history with 1 000 records (18 points, two references and stored constants each):
// the file's size, saving one record, finding them all, and opening the history window on them (the
// file opened, every record listed, the window shown), side by side.
#include "app/Main.h"
#include "app/records/RecordsWindow.h"
#include "bench/support/widgetmain.h"
#include "recordfixture.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace rec = vx::records;

namespace {
constexpr int kRecords = 1000;

struct Bench {
    QTemporaryDir dir;
    QString path = dir.filePath("history.sqlite");
    std::unique_ptr<TForm_Main> main;
    double fillSeconds = 0;
    qint64 bytes = 0;

    Bench() {
        TForm_Main::Options o;
        o.settingsPath = dir.filePath("vx.ini");
        o.arguments = QStringList{"/QARNEL"};
        main = std::make_unique<TForm_Main>(o);
        rec::History h;
        if (!h.open(path)) std::abort();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRecords; ++i) {
            rec::Run run = sampleRecord("SN-" + std::to_string(1000 + i % 400));
            run.references.push_back({"Calibrator", "CAL-9", "NMH-1", "2099-01-01"});
            for (const rec::CheckPoint& c : rec::inputPlan(100, 4, 20))
                for (rec::Phase p : {rec::Phase::AsFound, rec::Phase::AsLeft})
                    run.points.push_back(rec::makePoint(p, c, c.nominal, c.nominal + 0.001, {}, run.rule));
            if (!h.save(run, "2026-12-09")) std::abort();
        }
        fillSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        bytes = QFileInfo(path).size();
    }
};
Bench* bench = nullptr;

void BM_SaveRecord(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(bench->fillSeconds);
    state.counters["records"] = kRecords;
    state.counters["file_bytes"] = static_cast<double>(bench->bytes);
    state.counters["bytes_per_record"] = static_cast<double>(bench->bytes) / kRecords;
    state.counters["ms_per_saved_record"] = bench->fillSeconds * 1000 / kRecords;
}
BENCHMARK(BM_SaveRecord)->Iterations(1);

void BM_FindAll(benchmark::State& state) {
    rec::History h;
    if (!h.open(bench->path)) std::abort();
    for (auto _ : state) {
        auto runs = h.find();
        if (runs.size() != kRecords) std::abort();
        benchmark::DoNotOptimize(runs);
    }
}
BENCHMARK(BM_FindAll)->Unit(benchmark::kMillisecond);

void BM_OpenHistoryWindow(benchmark::State& state) {
    for (auto _ : state) {
        rec::History h;
        if (!h.open(bench->path)) std::abort();
        vx::app::records::HistoryWindow w(*bench->main, h, bench->dir.filePath("out"));
        w.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(&w);
    }
}
BENCHMARK(BM_OpenHistoryWindow)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv, [] {
        auto b = std::make_unique<Bench>();
        bench = b.get();
        return b;
    });
}
