// Cost of setting a bar graph's value, as the main window does for ten bars on every reply.
#include "bench/support/widgetmain.h"
#include "widgets/mbargraph.h"

#include <QApplication>

#include <benchmark/benchmark.h>

namespace {

TMBarGraph& shownBar(TMBGMode mode) {
    static TMBarGraph* bars[2] = {};
    TMBarGraph*& g = bars[mode];
    if (!g) {
        g = new TMBarGraph;
        g->setMBGMode(mode);
        g->resize(160, 17);
        g->show();
        QApplication::processEvents();
    }
    return *g;
}

// Values walk across the scale so that every call moves the bar and changes the text.
void BM_ChangedValue(benchmark::State& state) {
    TMBarGraph& g = shownBar(static_cast<TMBGMode>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        g.setMBGValue((i++ % 200) / 199.0);
        if ((i & 63) == 0) {
            // Let the queued repaints happen outside the timed region, as the event loop would.
            state.PauseTiming();
            QApplication::processEvents();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_ChangedValue)->Arg(modeUnsigned)->Arg(modeSigned);

void BM_UnchangedValue(benchmark::State& state) {
    TMBarGraph& g = shownBar(static_cast<TMBGMode>(state.range(0)));
    g.setMBGValue(0.4321);
    QApplication::processEvents();
    for (auto _ : state)
        g.setMBGValue(0.4321);
}
BENCHMARK(BM_UnchangedValue)->Arg(modeUnsigned)->Arg(modeSigned);

// For scale: one repaint of a bar with its label.
void BM_Repaint(benchmark::State& state) {
    TMBarGraph& g = shownBar(modeUnsigned);
    int i = 0;
    for (auto _ : state) {
        g.setMBGValue((i++ % 200) / 199.0);
        g.repaint();
    }
}
BENCHMARK(BM_Repaint);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
