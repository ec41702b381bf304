// vx2207-config: the VX2207 configurator.
#include "app/Main.h"
#include "app/DUTHiba.h"
#include "common/pictureformat.h"
#include "widgets/pagecontrol.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QScreen>
#include <QTimer>
#include <cstdio>

namespace {

long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Hooks for the screenshot script and the start-up benchmark: act once the window shows, then quit
// without touching the settings file.
void afterShow(QApplication& app, TForm_Main& main, TForm_DUTHiba& dialog) {
    const QString shot = qEnvironmentVariable("VX_SCREENSHOT");
    const QString dialogShot = qEnvironmentVariable("VX_SCREENSHOT_DIALOG");
    const bool exitAfterShow = qEnvironmentVariableIsSet("VX_EXIT_AFTER_SHOW");
    if (shot.isEmpty() && dialogShot.isEmpty() && !exitAfterShow) return;
    QTimer::singleShot(0, &app, [shot, dialogShot, exitAfterShow, &main, &dialog] {
        int status = 0;
        bool pageOk = false;
        const int page = qEnvironmentVariableIntValue("VX_SCREENSHOT_PAGE", &pageOk);
        if (pageOk) main.PageControl1->setCurrentIndex(page);
        if (!shot.isEmpty() && !main.grab().save(shot)) status = 1;
        if (!dialogShot.isEmpty()) {
            dialog.show();
            if (!dialog.grab().save(dialogShot)) status = 1;
        }
        if (exitAfterShow) {
            std::printf("shown rss_kib=%ld\n", residentKiB());
            std::fflush(stdout);
        }
        QCoreApplication::exit(status);
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    vx::setDecimalSeparator(QString(QLocale::system().decimalPoint()).toStdString());
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    QApplication::setFont(font);

    TForm_Main::Options options;
    // Lets the tests and the screenshot script keep their own settings file.
    options.settingsPath = qEnvironmentVariable("VX_SETTINGS_FILE");
    TForm_Main formMain(std::move(options));
    TForm_DUTHiba formDUTHiba(&formMain);

    if (const QScreen* screen = formMain.screen())
        formMain.move(screen->availableGeometry().center() - formMain.rect().center());
    formMain.show();
    afterShow(app, formMain, formDUTHiba);
    return app.exec();
}
