// vx2207-config: the VX2207 configurator.
#include "app/Main.h"
#include "app/CommandLine.h"
#include "app/DUTHiba.h"
#include "app/TerminationSignals.h"
#include "common/pictureformat.h"
#include "link/logging.h"
#include "link/mb.h"
#include "widgets/pagecontrol.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
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

// Hooks for the screenshot script, `make run` and the start-up benchmark. VX_OPEN_PORT opens that port
// on the link panel as a user would once the window is shown. VX_SCREENSHOT grabs the window and quits
// without touching the settings file: right after the first painting, or with VX_OPEN_PORT after the
// first good reply (exit status 2 if none came within VX_REPLY_WAIT_MS, default 10 s). VX_CLOSE_AFTER_SHOW
// closes the window as the user would, settings file and all.
void afterShow(TForm_Main& main, TForm_DUTHiba& dialog) {
    const QString shot = qEnvironmentVariable("VX_SCREENSHOT");
    const QString dialogShot = qEnvironmentVariable("VX_SCREENSHOT_DIALOG");
    const QString openPort = qEnvironmentVariable("VX_OPEN_PORT");
    const bool exitAfterShow = qEnvironmentVariableIsSet("VX_EXIT_AFTER_SHOW");
    const bool closeAfterShow = qEnvironmentVariableIsSet("VX_CLOSE_AFTER_SHOW");
    if (shot.isEmpty() && dialogShot.isEmpty() && !exitAfterShow && !closeAfterShow && openPort.isEmpty())
        return;

    const auto grabAndExit = [shot, dialogShot, &main, &dialog](int status) {
        bool pageOk = false;
        const int page = qEnvironmentVariableIntValue("VX_SCREENSHOT_PAGE", &pageOk);
        if (pageOk) main.PageControl1->setCurrentIndex(page);
        if (!shot.isEmpty() && !main.grab().save(shot)) status = 1;
        if (!dialogShot.isEmpty()) {
            // As an instrument with firmware from after the supported window would see it.
            main.FirmwareVersion = 20150302;
            main.PrepareFirmwareDialog();
            dialog.show();
            if (!dialog.grab().save(dialogShot)) status = 1;
        }
        QCoreApplication::exit(status);
    };

    new AfterFirstPaint(&main, [=, &main] {
        if (closeAfterShow) {
            main.close();
            return;
        }
        if (exitAfterShow) {
            std::printf("shown rss_kib=%ld\n", residentKiB());
            std::fflush(stdout);
        }
        if (openPort.isEmpty()) {
            grabAndExit(0);
            return;
        }
        if (!main.MB1->MBOpenPort(openPort)) {
            std::fprintf(stderr, "vx2207-config: cannot open %s: %s\n", qPrintable(openPort),
                         qPrintable(main.MB1->MBPortErrorText()));
            if (!shot.isEmpty()) grabAndExit(2);
            return;
        }
        if (shot.isEmpty()) return;
        auto fired = std::make_shared<bool>(false);
        const auto finish = [=](int status) {
            if (std::exchange(*fired, true)) return;
            grabAndExit(status);
        };
        // VX_SCREENSHOT_REPLIES=N waits for the Nth good reply (what a second of polling shows).
        auto replies =
            std::make_shared<int>(std::max(1, qEnvironmentVariableIntValue("VX_SCREENSHOT_REPLIES")));
        QObject::connect(&main, &TForm_Main::replyShown, &main, [=] {
            if (--*replies <= 0) finish(0);
        });
        bool waitOk = false;
        int waitMs = qEnvironmentVariableIntValue("VX_REPLY_WAIT_MS", &waitOk);
        if (!waitOk) waitMs = 10000;
        QTimer::singleShot(waitMs, &main, [=] {
            if (!*fired) std::fprintf(stderr, "vx2207-config: no good reply within %d ms\n", waitMs);
            finish(2);
        });
    });
}

// A dark desktop theme's colours, for the screenshot script (VX_SCREENSHOT_PALETTE=dark).
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

} // namespace

int main(int argc, char** argv) {
    // Read before the application object: --help and --version must work where there is no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const vx::app::CommandLine line = vx::app::parseCommandLine(arguments);
    if (line.action != vx::app::CommandLine::Action::Run) {
        std::fputs(line.text.toLocal8Bit().constData(),
                   line.action == vx::app::CommandLine::Action::Print ? stdout : stderr);
        return line.exitStatus;
    }
    if (line.verbose) vx::enableVerboseLogging();
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VX_APP_ID));
    if (qEnvironmentVariable("VX_SCREENSHOT_PALETTE") == QLatin1String("dark"))
        QApplication::setPalette(darkPalette());
    // A port to open at start must be in the panel's list, as it would be for a user picking it.
    if (const QByteArray port = qgetenv("VX_OPEN_PORT"); !port.isEmpty()) {
        const QByteArray extra = qgetenv("MB_EXTRA_PORTS");
        if (!extra.split(':').contains(port))
            qputenv("MB_EXTRA_PORTS", extra.isEmpty() ? port : extra + ':' + port);
    }
    vx::setDecimalSeparator(QString(QLocale::system().decimalPoint()).toStdString());
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    QApplication::setFont(font);

    TForm_Main::Options options;
    // Lets the tests and the screenshot script keep their own settings file.
    options.settingsPath = qEnvironmentVariable("VX_SETTINGS_FILE");
    TForm_Main formMain(std::move(options));
    TForm_DUTHiba formDUTHiba(&formMain);
    formMain.setFirmwareDialog(&formDUTHiba);
    vx::app::closeOnTerminationSignals(formMain);

    if (const QScreen* screen = formMain.screen()) formMain.placeOnScreen(screen->availableGeometry());
    if (line.replyTimeOutMs > 0)
        formMain.MB1->setMBMasterTimeOut(static_cast<std::uint16_t>(line.replyTimeOutMs));
    formMain.show();
    if (!line.openPort.isEmpty())
        QTimer::singleShot(0, &formMain, [&formMain, port = line.openPort] {
            const auto report = [&formMain, port] {
                std::fprintf(stderr, "vx2207-config: cannot open %s: %s\n", qPrintable(port),
                             qPrintable(formMain.MB1->MBPortErrorText()));
            };
            TPortSession& session = formMain.MB1->session();
            if (!session.beginOpenPort(port)) return report();
            // A network connect goes on behind the window; a failure is told when it ends (a Close
            // meanwhile is none).
            if (session.state() == TPortSession::State::Opening)
                QObject::connect(
                    &session, &TPortSession::openCloseFinished, &formMain,
                    [&formMain, report] {
                        if (!formMain.MB1->MBPortOpen() && !formMain.MB1->MBPortErrorText().isEmpty())
                            report();
                    },
                    Qt::SingleShotConnection);
        });
    afterShow(formMain, formDUTHiba);
    return app.exec();
}
