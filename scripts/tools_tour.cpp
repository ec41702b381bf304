// Opens the added tools against a live vx2207-sim and grabs each to a PNG file: the trend after a few
// seconds of a sweep, the traffic monitor with a row picked, the main window recording (its indicator
// and a confirmation in the status area), and the settings backup's save and load dialogs.
// Used by scripts/screenshots.sh.
//   vx_tools_tour SIMULATOR OUTPUT_FOLDER [english|magyar]
#include "app/Main.h"
#include "app/tools/ToolWindows.h"
#include "app/tools/TrafficWindow.h"
#include "app/tools/TrendWindow.h"
#include "link/mb.h"
#include "scripts/tour.h"
#include "sim/harness.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vx_tools_tour SIMULATOR OUTPUT_FOLDER [english|magyar]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QByteArray language = argc > 3 ? QByteArray(argv[3]) : QByteArray("english");
    QDir().mkpath(out);
    vx::app::prepareApplication(); // the look and numbers of vx2207-config

    vx::sim::SimProcess sim(
        argv[1], {"--calibrated", "--signal", "sine:4:20:6", "--drop", "0.05", "--exit-with-parent"});
    if (!sim.started()) {
        std::fprintf(stderr, "vx_tools_tour: the simulator did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString settings = languageSettings(dir, language);
    if (settings.isEmpty()) return 1;
    TForm_Main::Options options;
    options.settingsPath = settings;
    options.arguments =
        QStringList{QStringLiteral("--record"),
                    dir.filePath(QStringLiteral("VX2207-bench-A-long-recording-name-2026-12-09.csv"))};
    TForm_Main w(std::move(options));
    w.show();
    w.FormActivate();
    if (!openSimulator(w, sim.devicePath())) {
        std::fprintf(stderr, "vx_tools_tour: no reply from the simulator\n");
        return 1;
    }
    int status = 0;
    const auto shot = [&](QWidget* widget, const QString& name) {
        const QString file = out + QLatin1Char('/') + name + QLatin1Char('-') +
                             QString::fromLatin1(language) + QStringLiteral(".png");
        if (!widget->grab().save(file)) status = 1;
        std::printf("%s\n", qPrintable(file));
    };
    // Eight seconds of the sweep, with a few replies dropped on the way.
    for (int i = 0; i < 8 * 15; ++i)
        nextReply(w);

    vx::app::tools::TrendWindow* trend = w.Tools->showTrend();
    trend->resize(900, 520);
    trend->setSpanMinutes(1);
    nextReply(w);
    trend->refresh();
    shot(trend, QStringLiteral("trend"));

    vx::app::tools::TrafficWindow* monitor = w.Tools->showMonitor();
    monitor->resize(1000, 560);
    nextReply(w);
    monitor->selectRow(std::max(0, monitor->model()->rowCount() - 12));
    for (int i = 0; i < 5; ++i)
        nextReply(w);
    shot(monitor, QStringLiteral("traffic"));
    trend->hide();
    monitor->hide();

    // The backup: the save dialog, then the file loaded back; each modal window is grabbed and answered.
    int step = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        if (auto* files = qobject_cast<QFileDialog*>(modal); files && step < 4) {
            shot(files,
                 step == 0 ? QStringLiteral("backup-save-dialog") : QStringLiteral("backup-load-dialog"));
            // Into the tour's own folder: the save under the name it suggests, the load of what it wrote.
            const QString name = step == 0 ? QFileInfo(files->selectedFiles().value(0)).fileName()
                                           : QDir(dir.path()).entryList({QStringLiteral("*.json")}).value(0);
            if (auto* edit = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(dir.filePath(name));
            QMetaObject::invokeMethod(files, "accept"); // a slot, protected as a function
        } else {
            if (step < 4) shot(modal, QStringLiteral("backup-loaded"));
            modal->close();
        }
        ++step;
    });
    answer.start(700);
    w.Action_SaveSettings->trigger();
    nextReply(w);
    shot(&w, QStringLiteral("main-recording-saved"));
    w.Action_LoadSettings->trigger();
    nextReply(w);
    shot(&w, QStringLiteral("main-recording-loaded"));
    answer.stop();
    w.MB1->MBClosePort();
    return status;
}
