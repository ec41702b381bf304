// Pulls the simulated instrument out from under the configurator and plugs it back in, grabbing the
// window at each stage: polling, the port lost and waited for, reconnected and polling again; then
// closed, with a terminal this program holds chosen to show how a busy port is explained. Used by
// scripts/screenshots.sh.
//   vx_reconnect_tour SIMULATOR OUTPUT_FOLDER
#include "app/Main.h"
#include "link/mb.h"
#include "link/serialport_posix.h"
#include "scripts/tour.h"
#include "sim/harness.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <unistd.h>

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vx_reconnect_tour SIMULATOR OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string simulator = argv[1];
    const QString out = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(out);
    vx::app::prepareApplication(); // the look and numbers of vx2207-config

    QTemporaryDir dir;
    const std::string link = dir.filePath(QStringLiteral("vx2207-sim.tty")).toStdString();
    // Another program's port: a terminal this tour holds open.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char other[128] = "";
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, other, sizeof other))
        return 1;
    mb::port::SerialPort held;
    held.open(other, {}, nullptr);
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(link + ":" + other));

    const std::vector<std::string> simArgs = {"--link",   link,           "--calibrated",
                                              "--signal", "sine:4:20:30", "--exit-with-parent"};
    auto sim = std::make_unique<vx::sim::SimProcess>(simulator, simArgs);
    if (!sim->started()) {
        std::fprintf(stderr, "vx_reconnect_tour: the simulator did not start\n");
        return 1;
    }
    QFile settings(dir.filePath(QStringLiteral("vx.ini")));
    if (!settings.open(QIODevice::WriteOnly)) return 1;
    settings.write("[Language]\nGsSelectedLanguage=english\n");
    settings.close();
    TForm_Main::Options options;
    options.settingsPath = settings.fileName();
    TForm_Main w(std::move(options));
    w.show();
    w.FormActivate();

    int status = 0;
    const auto shot = [&](const QString& name) {
        const QString file = out + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!w.grab().save(file)) status = 1;
        std::printf("%s\n", qPrintable(file));
    };
    waitFor([] { return false; }, 1500); // the panel's own set-up, as a user would wait for it
    if (!w.MB1->MBOpenPort(QString::fromStdString(link)) || !nextReply(w) || !nextReply(w)) {
        std::fprintf(stderr, "vx_reconnect_tour: no reply from the simulator\n");
        return 1;
    }
    shot(QStringLiteral("reconnect-1-polling"));

    sim.reset(); // unplugged
    if (!waitFor([&] { return !w.MB1->MBWaitingForPort().isEmpty(); })) status = 1;
    waitFor([] { return false; }, 300); // let the window settle
    shot(QStringLiteral("reconnect-2-waiting"));

    sim = std::make_unique<vx::sim::SimProcess>(simulator, simArgs); // plugged back in
    if (!sim->started() || !nextReply(w) || !nextReply(w)) {
        std::fprintf(stderr, "vx_reconnect_tour: the simulator was not polled again\n");
        return 1;
    }
    shot(QStringLiteral("reconnect-3-reconnected"));

    // Closed, and the busy port chosen: its reason is on the panel before anyone presses Open.
    w.MB1->MBClosePort();
    auto* list = w.MB1->findChild<QListWidget*>(QStringLiteral("ListBox_Ports"));
    for (int row = 0; row < list->count(); ++row)
        if (w.MB1->MBPortEntries()[static_cast<std::size_t>(row)].info.path == other)
            list->setCurrentRow(row);
    waitFor([] { return false; }, 300);
    shot(QStringLiteral("reconnect-4-closed-busy-port-chosen"));

    ::close(master);
    return status;
}
