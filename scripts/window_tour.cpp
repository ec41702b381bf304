// The main window as vx2207-config starts it, grabbed to PNG files for scripts/screenshots.sh and
// scripts/run.sh, or timed by the start-up benchmark (bench/window).
//   vx_window_tour [--language L | --settings FILE] [--shot FILE] [--page N] [--dark] [--dialog FILE]
//   [--replies N]
//                  [--report-shown] [program arguments...]
// The program arguments are vx2207-config's (/QARNEL, --port NAME, ...). --shot grabs the window right
// after its first painting, or, when a port is opened, after the Nth good reply (--replies, default 1;
// exit status 2 if none came within 10 s), showing page N first (--page). --dialog grabs the firmware
// dialog as an instrument with too new a firmware raises it. --dark paints with a dark desktop's
// colours. --report-shown prints "shown rss_kib=N" once the window painted and, with nothing to grab,
// exits. The settings are read from FILE, or a fresh file choosing language L when given; they are
// never written.
#include "app/DUTHiba.h"
#include "app/Startup.h"
#include "link/logging.h"
#include "scripts/tour.h"
#include "widgets/pagecontrol.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

namespace {

long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Runs a task once, right after the window's first painting.
class AfterFirstPaint : public QObject {
public:
    AfterFirstPaint(QWidget* window, std::function<void()> task)
        : QObject(window), window_(window), task_(std::move(task)) {
        // The window's client area covers it; the first of its widgets to paint marks the pass.
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && task_ && watched->isWidgetType() &&
            (watched == window_ || window_->isAncestorOf(static_cast<QWidget*>(watched)))) {
            qApp->removeEventFilter(this);
            // Let the painting pass finish (the other widgets paint after this one).
            QTimer::singleShot(0, this, std::exchange(task_, nullptr));
        }
        return false;
    }

private:
    QWidget* window_;
    std::function<void()> task_;
};

QPalette darkPalette() {
    QPalette p(QColor(0x3a, 0x3a, 0x3a), QColor(0x2d, 0x2d, 0x2d));
    p.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
    p.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
    p.setColor(QPalette::ButtonText, QColor(0xf0, 0xf0, 0xf0));
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    p.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0x2d, 0x2d, 0x2d));
    p.setColor(QPalette::ToolTipText, QColor(0xe6, 0xe6, 0xe6));
    p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    return p;
}

struct Tour {
    QByteArray language;
    QString settings;
    QString shot, dialog;
    int page = -1;
    int replies = 1;
    bool dark = false;
    bool reportShown = false;
    QStringList program; // vx2207-config's own arguments
};

// False on a tour option without its value.
bool readTour(const QStringList& args, Tour& t) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool valued = a == "--language" || a == "--settings" || a == "--shot" || a == "--page" ||
                            a == "--dialog" || a == "--replies";
        if (valued && i + 1 == args.size()) return false;
        if (a == "--language")
            t.language = args[++i].toLocal8Bit();
        else if (a == "--settings")
            t.settings = args[++i];
        else if (a == "--shot")
            t.shot = args[++i];
        else if (a == "--page")
            t.page = args[++i].toInt();
        else if (a == "--dialog")
            t.dialog = args[++i];
        else if (a == "--replies")
            t.replies = std::max(1, args[++i].toInt());
        else if (a == "--dark")
            t.dark = true;
        else if (a == "--report-shown")
            t.reportShown = true;
        else
            t.program << a;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Tour tour;
    if (!readTour(QCoreApplication::arguments(), tour)) {
        std::fprintf(stderr, "vx_window_tour: an option lacks its value\n");
        return 2;
    }
    const vx::app::CommandLine line =
        vx::app::parseCommandLine(QStringList{QStringLiteral("vx2207-config")} + tour.program);
    if (line.action != vx::app::CommandLine::Action::Run) {
        std::fprintf(stderr, "vx_window_tour: %s", qPrintable(line.text));
        return 2;
    }
    if (line.verbose) vx::enableVerboseLogging();
    vx::app::prepareApplication();
    if (tour.dark) QApplication::setPalette(darkPalette());
    QTemporaryDir dir;
    const QString settings = !tour.settings.isEmpty()  ? tour.settings
                             : tour.language.isEmpty() ? dir.filePath(QStringLiteral("vx.ini"))
                                                       : languageSettings(dir, tour.language);
    vx::app::ProgramWindow program(line, settings, tour.program);
    TForm_Main& w = program.window();

    int replies = 0;
    QObject::connect(&w, &TForm_Main::replyShown, &w, [&] { ++replies; });
    bool grabbed = false;
    const auto grabAndExit = [&](int status) {
        if (std::exchange(grabbed, true)) return;
        if (tour.page >= 0) w.PageControl1->setCurrentIndex(tour.page);
        if (!tour.shot.isEmpty() && !w.grab().save(tour.shot)) status = 1;
        if (!tour.dialog.isEmpty()) {
            w.FirmwareVersion = 20150302; // after the supported window
            w.PrepareFirmwareDialog();
            program.firmwareDialog().show();
            if (!program.firmwareDialog().grab().save(tour.dialog)) status = 1;
        }
        QCoreApplication::exit(status);
    };
    program.show();
    new AfterFirstPaint(&w, [&] {
        if (tour.reportShown) {
            std::printf("shown rss_kib=%ld\n", residentKiB());
            std::fflush(stdout);
        }
        if (line.openPort.isEmpty()) return grabAndExit(0);
        // What a few seconds of polling show, or the window as it stands when no reply came.
        QTimer::singleShot(10000, &w, [&] {
            std::fprintf(stderr, "vx_window_tour: no good reply within 10 s\n");
            grabAndExit(2);
        });
        const auto check = [&] {
            if (replies >= tour.replies) grabAndExit(0);
        };
        QObject::connect(&w, &TForm_Main::replyShown, &w, check);
        check();
    });
    return app.exec();
}
