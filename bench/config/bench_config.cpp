// The poll cycle as the line sees it, and the display's cost, side by side in one run.
//
// The configurator's window is shown (run it under Xvfb, as scripts/bench.sh does, so every refresh is
// painted and put on a screen) and polls vx2207-sim, unpaced and paced at 115200 bit/s, through a line
// tap that notes when each request begins and each reply ends. From those:
//   - the share of the line's limit reached: (50 ms + the responder's own time) / cycle period;
//   - the configurator's own share of each cycle beyond the 50 ms pause: from a reply's last character
//     to the next request's first, less 50 ms (median and 99th percentile);
//   - the configurator's CPU time per cycle (the tap's own thread taken off), in the normal and the
//     maker mode.
// A census during the warm-up counts the labels, lamps and bars on screen that change per cycle; a bare
// Qt Widgets window then changes as many per cycle at the same pace, and its CPU time per cycle is the
// floor the configurator is compared with. BENCH_SECONDS sets the length of each run (default 20).
#include "app/DUTHiba.h"
#include "app/Main.h"
#include "app/Startup.h"
#include "app/tools/ToolWindows.h"
#include "common/pictureformat.h"
#include "floorwindow.h"
#include "linetap.h"
#include "link/mb.h"
#include "link/mbpanel.h"
#include "sim/harness.h"
#include "widgets/mbargraph.h"

#include <QApplication>
#include <QEventLoop>
#include <QHash>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

double processCpu() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const double at = p * static_cast<double>(v.size() - 1);
    const auto lo = static_cast<std::size_t>(at);
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

double median(std::vector<double> v) {
    return percentile(std::move(v), 0.5);
}

void spin(double seconds) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// What changes on screen from one reply to the next: label texts, lamps (a colour, or a flag or
// picture shown or hidden) and bars, counted only where they can be seen.
class DisplayCensus {
public:
    explicit DisplayCensus(QWidget* root) : root_(root) {}

    void take() {
        int labels = 0, lamps = 0, bars = 0;
        for (QLabel* l : root_->findChildren<QLabel*>()) {
            const State now{l->text(), l->isVisible(), l->palette().color(QPalette::Window).rgb(), 0};
            const auto it = last_.constFind(l);
            if (it != last_.constEnd()) {
                if (now.visible != it->visible) ++lamps;
                if (now.visible && l->autoFillBackground() && now.colour != it->colour) ++lamps;
                if (now.visible && now.text != it->text) ++labels;
            }
            last_[l] = now;
        }
        for (TMBShape* s : root_->findChildren<TMBShape*>()) {
            const State now{{}, s->isVisible(), s->brushColor().rgb(), 0};
            const auto it = last_.constFind(s);
            if (it != last_.constEnd() && (now.visible != it->visible || now.colour != it->colour)) ++lamps;
            last_[s] = now;
        }
        for (TMBarGraph* g : root_->findChildren<TMBarGraph*>()) {
            const State now{{}, g->isVisible(), 0, g->MBGValue()};
            const auto it = last_.constFind(g);
            if (it != last_.constEnd() && now.visible && now.value != it->value) ++bars;
            last_[g] = now;
        }
        if (first_) {
            first_ = false;
            return;
        }
        labels_ += labels;
        lamps_ += lamps;
        bars_ += bars;
        ++cycles_;
    }
    int labels() const { return perCycle(labels_); }
    int lamps() const { return perCycle(lamps_); }
    int bars() const { return perCycle(bars_); }

private:
    struct State {
        QString text;
        bool visible = false;
        QRgb colour = 0;
        double value = 0;
    };
    int perCycle(int total) const { return cycles_ ? (total + cycles_ / 2) / cycles_ : 0; }

    QWidget* root_;
    QHash<QObject*, State> last_;
    bool first_ = true;
    int labels_ = 0, lamps_ = 0, bars_ = 0, cycles_ = 0;
};

// Which widgets paint, per cycle (BENCH_PAINTS=1 prints it for each run).
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (on && e->type() == QEvent::Paint) {
            const QString name = o->objectName().isEmpty() ? QString::fromLatin1(o->metaObject()->className())
                                                           : o->objectName();
            ++counts[name];
        }
        return false;
    }
    bool on = false;
    QHash<QString, int> counts;
};

struct RunFigures {
    bool ok = false;
    int cycles = 0;
    double periodMs = 0, responderMs = 0, limitShare = 0, ownMedianMs = 0, ownP99Ms = 0, cpuMs = 0;
    int labels = 0, lamps = 0, bars = 0;
};

// Collects CPU time per cycle over one-second windows, so the figure is a median, not one average.
class CpuWindows {
public:
    explicit CpuWindows(std::function<double()> cpu) : cpu_(std::move(cpu)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double c = cpu_();
            if (cycles_ > 0) perCycleMs_.push_back((c - last_) * 1e3 / cycles_);
            last_ = c;
            cycles_ = 0;
        });
    }
    void start() {
        last_ = cpu_();
        cycles_ = 0;
        timer_.start(1000);
    }
    void stop() { timer_.stop(); }
    void cycle() { ++cycles_; }
    double medianMs() const { return median(perCycleMs_); }

private:
    std::function<double()> cpu_;
    QTimer timer_;
    double last_ = 0;
    int cycles_ = 0;
    std::vector<double> perCycleMs_;
};

RunFigures runConfigurator(bool maker, unsigned baud, double seconds, bool trend = false) {
    RunFigures f;
    std::vector<std::string> args{"--calibrated", "--signal", "sine:4:20:5"};
    if (baud) args.insert(args.end(), {"--baud", std::to_string(baud)});
    vx::sim::SimProcess sim(VX2207_SIM, args);
    if (!sim.started()) return f;
    vx::bench::LineTap tap(sim.devicePath());
    if (!tap.ok()) return f;

    QTemporaryDir dir;
    TForm_Main::Options o;
    o.settingsPath = dir.filePath("bench.ini");
    o.arguments = maker ? QStringList{"/QARNEL"} : QStringList{};
    TForm_Main w(std::move(o));
    TForm_DUTHiba dialog(&w);
    w.setFirmwareDialog(&dialog);
    // BENCH_HIDDEN=1: the window is never shown, which tells painting apart from the rest.
    if (!qEnvironmentVariableIsSet("BENCH_HIDDEN")) w.show();
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(tap.path()));
    if (!w.MB1->MBOpenPort(QString::fromStdString(tap.path()))) return f;
    if (trend) w.Tools->showTrend();

    DisplayCensus census(&w);
    bool counting = false;
    CpuWindows cpu([&tap] { return processCpu() - tap.cpuSeconds(); });
    QObject::connect(&w, &TForm_Main::replyShown, [&] {
        if (counting) census.take();
        cpu.cycle();
    });
    PaintCounter paints;
    const bool listPaints = qEnvironmentVariableIsSet("BENCH_PAINTS");
    if (listPaints) qApp->installEventFilter(&paints);
    spin(1.0); // settle: the first replies set the pages up
    counting = true;
    paints.on = true;
    spin(2.0);
    counting = false;
    paints.on = false;
    if (listPaints) {
        qApp->removeEventFilter(&paints);
        std::vector<std::pair<int, QString>> sorted;
        for (auto it = paints.counts.cbegin(); it != paints.counts.cend(); ++it)
            sorted.emplace_back(it.value(), it.key());
        std::sort(sorted.rbegin(), sorted.rend());
        std::printf("paints in 2 s:");
        for (const auto& [n, name] : sorted)
            std::printf(" %s %d", qPrintable(name), n);
        std::printf("\n");
    }
    tap.clear();
    cpu.start();
    spin(seconds);
    cpu.stop();
    const std::vector<vx::bench::TapCycle> cycles = tap.cycles();
    w.MB1->MBClosePort();

    std::vector<double> periods, gaps, responder;
    for (std::size_t i = 0; i + 1 < cycles.size(); ++i) {
        periods.push_back(cycles[i + 1].request - cycles[i].request);
        gaps.push_back(cycles[i + 1].request - cycles[i].replyEnd - 0.050);
        responder.push_back(cycles[i].replyEnd - cycles[i].request);
    }
    f.ok = !periods.empty();
    f.cycles = static_cast<int>(periods.size());
    f.periodMs = median(periods) * 1e3;
    f.responderMs = median(responder) * 1e3;
    f.limitShare = f.periodMs > 0 ? (50.0 + f.responderMs) / f.periodMs : 0;
    f.ownMedianMs = median(gaps) * 1e3;
    f.ownP99Ms = percentile(gaps, 0.99) * 1e3;
    f.cpuMs = cpu.medianMs();
    f.labels = census.labels();
    f.lamps = census.lamps();
    f.bars = census.bars();
    return f;
}

// The floor window at the configurator's pace; CPU time per cycle.
double runFloor(const RunFigures& like, double seconds) {
    vx::bench::FloorWindow w(like.labels, like.lamps, like.bars);
    w.show();
    CpuWindows cpu(processCpu);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        w.cycle();
        cpu.cycle();
    });
    tick.start(static_cast<int>(like.periodMs + 0.5));
    spin(1.0);
    cpu.start();
    spin(seconds);
    cpu.stop();
    return cpu.medianMs();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program starts, on a Hungarian desktop.
    vx::app::prepareApplication();
    vx::setDecimalSeparator(",");
    bool ok = false;
    double seconds = qEnvironmentVariableIntValue("BENCH_SECONDS", &ok);
    if (!ok || seconds <= 0) seconds = 20;
    const QString label = qEnvironmentVariable("BENCH_LABEL");

    std::printf("configurator on platform %s, %.0f s per run%s%s\n", qPrintable(app.platformName()), seconds,
                label.isEmpty() ? "" : ", build: ", qPrintable(label));
    std::printf("%-6s %-7s %6s %9s %9s %8s %8s %9s %8s  %s\n", "mode", "line", "cycles", "period",
                "responder", "limit", "own med", "own p99", "CPU/cyc", "changed per cycle");
    std::fflush(stdout);
    RunFigures unpaced[2];
    // BENCH_ONLY=normal or maker, to profile one mode's unpaced run alone; BENCH_ONLY=floor:L,M,B the
    // floor window alone with L labels, M lamps and B bars.
    const QString only = qEnvironmentVariable("BENCH_ONLY");
    if (only.startsWith(QLatin1String("floor:"))) {
        const QStringList n = only.mid(6).split(QLatin1Char(','));
        RunFigures like;
        like.labels = n.value(0).toInt();
        like.lamps = n.value(1).toInt();
        like.bars = n.value(2).toInt();
        like.periodMs = 51;
        std::printf("floor %.3f ms per cycle\n", runFloor(like, seconds));
        return 0;
    }
    // BENCH_ONLY=trend: the normal mode unpaced with the trend closed and open, in turns, three times
    // each; medians of the runs' CPU time per cycle and their ratio.
    if (only == QLatin1String("trend")) {
        std::vector<double> closed, open;
        for (int i = 0; i < 3; ++i)
            for (const bool trend : {false, true})
                if (const RunFigures f = runConfigurator(false, 0, seconds, trend); f.ok)
                    (trend ? open : closed).push_back(f.cpuMs);
        const double c = median(closed), o = median(open);
        std::printf("trend closed %.3f ms, open %.3f ms CPU per cycle: %+.1f%%\n", c, o,
                    c > 0 ? 100 * (o / c - 1) : 0);
        return 0;
    }
    for (const bool maker : {false, true}) {
        if (!only.isEmpty() && only != QLatin1String(maker ? "maker" : "normal")) continue;
        for (const unsigned baud : {0u, 115200u}) {
            if (!only.isEmpty() && baud) continue;
            const RunFigures f = runConfigurator(maker, baud, seconds);
            if (!f.ok) {
                std::printf("%-6s %-7s simulator, tap or port not available\n", maker ? "maker" : "normal",
                            baud ? "115200" : "unpaced");
                continue;
            }
            if (!baud) unpaced[maker] = f;
            std::printf("%-6s %-7s %6d %6.3f ms %6.3f ms %7.2f%% %5.3f ms %6.3f ms %5.3f ms  "
                        "%d labels, %d lamps, %d bars\n",
                        maker ? "maker" : "normal", baud ? "115200" : "unpaced", f.cycles, f.periodMs,
                        f.responderMs, 100 * f.limitShare, f.ownMedianMs, f.ownP99Ms, f.cpuMs, f.labels,
                        f.lamps, f.bars);
            std::fflush(stdout);
        }
    }
    if (!only.isEmpty()) return 0;
    std::printf("floor: a bare Qt Widgets window changing as many labels, lamps and bars per cycle\n");
    for (const bool maker : {false, true}) {
        const RunFigures& f = unpaced[maker];
        if (!f.ok) continue;
        const double floorMs = runFloor(f, seconds);
        std::printf("%-6s floor %.3f ms per cycle; configurator %.3f ms = %.2fx the floor\n",
                    maker ? "maker" : "normal", floorMs, f.cpuMs, floorMs > 0 ? f.cpuMs / floorMs : 0);
        std::fflush(stdout);
    }
    return 0;
}
