#include "app/Startup.h"

#include "app/DUTHiba.h"
#include "app/Main.h"
#include "app/TerminationSignals.h"
#include "common/pictureformat.h"
#include "link/mb.h"
#include "link/netchannel.h"
#include "link/portopen.h"

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <cstdio>

namespace vx::app {

namespace {

// The panel opens only what its list offers; a device given by its path that no list names (a
// pseudo-terminal, a link to one) joins the list as MB_EXTRA_PORTS would offer it.
void offerPort(const QString& port) {
    const std::string name = port.toStdString();
    if (name.empty() || mb::port::isNetworkAddress(name) || mb::port::isDemoName(name)) return;
    const QByteArray path = QFile::encodeName(port);
    const QByteArray extra = qgetenv("MB_EXTRA_PORTS");
    if (!extra.split(':').contains(path))
        qputenv("MB_EXTRA_PORTS", extra.isEmpty() ? path : extra + ':' + path);
}

// The window builds its port list as it is made, so the port is offered before that.
const CommandLine& offeringItsPort(const CommandLine& line) {
    offerPort(line.openPort);
    return line;
}

} // namespace

void prepareApplication() {
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VX_APP_ID));
    vx::setDecimalSeparator(QString(QLocale::system().decimalPoint()).toStdString());
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    QApplication::setFont(font);
}

ProgramWindow::ProgramWindow(const CommandLine& line, const QString& settingsPath,
                             std::optional<QStringList> arguments)
    : line_(offeringItsPort(line)),
      main_(std::make_unique<TForm_Main>(TForm_Main::Options{settingsPath, std::move(arguments)})),
      dialog_(std::make_unique<TForm_DUTHiba>(main_.get())) {
    TForm_Main& main = *main_;
    main.setFirmwareDialog(dialog_.get());
    closeOnTerminationSignals(main);
    if (const QScreen* screen = main.screen()) main.placeOnScreen(screen->availableGeometry());
    if (line_.replyTimeOutMs > 0)
        main.MB1->setMBMasterTimeOut(static_cast<std::uint16_t>(line_.replyTimeOutMs));
}

ProgramWindow::~ProgramWindow() = default;

void ProgramWindow::show() {
    main_->show();
    if (line_.openPort.isEmpty()) return;
    QTimer::singleShot(0, main_.get(), [this] {
        const auto report = [this] {
            std::fprintf(stderr, "vx2207-config: cannot open %s: %s\n", qPrintable(line_.openPort),
                         qPrintable(main_->MB1->MBPortErrorText()));
        };
        TPortSession& session = main_->MB1->session();
        if (!session.beginOpenPort(line_.openPort)) return report();
        // A network connect goes on behind the window; a failure is told when it ends (a Close
        // meanwhile is none).
        if (session.state() == TPortSession::State::Opening)
            QObject::connect(
                &session, &TPortSession::openCloseFinished, main_.get(),
                [this, report] {
                    if (!main_->MB1->MBPortOpen() && !main_->MB1->MBPortErrorText().isEmpty()) report();
                },
                Qt::SingleShotConnection);
    });
}

} // namespace vx::app
