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
    AfterFirstPaint(QWidget* window, std::function<void()> task) : QObject(window), task_(std::move(task)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && task_) {
            watched->removeEventFilter(this);
            // Let the painting pass finish (the children paint after the window itself).
            QTimer::singleShot(0, this, std::exchange(task_, nullptr));
        }
        return false;
    }

private:
    std::function<void()> task_;
};

// Hooks for the screenshot script and the start-up benchmark: act once the window has been painted,
// then quit without touching the settings file.
void afterShow(TForm_Main& main, TForm_DUTHiba& dialog) {
    const QString shot = qEnvironmentVariable("VX_SCREENSHOT");
    const QString dialogShot = qEnvironmentVariable("VX_SCREENSHOT_DIALOG");
    const bool exitAfterShow = qEnvironmentVariableIsSet("VX_EXIT_AFTER_SHOW");
    if (shot.isEmpty() && dialogShot.isEmpty() && !exitAfterShow) return;
    new AfterFirstPaint(&main, [shot, dialogShot, exitAfterShow, &main, &dialog] {
        int status = 0;
        if (exitAfterShow) {
            std::printf("shown rss_kib=%ld\n", residentKiB());
            std::fflush(stdout);
        }
        bool pageOk = false;
        const int page = qEnvironmentVariableIntValue("VX_SCREENSHOT_PAGE", &pageOk);
        if (pageOk) main.PageControl1->setCurrentIndex(page);
        if (!shot.isEmpty() && !main.grab().save(shot)) status = 1;
        if (!dialogShot.isEmpty()) {
            dialog.show();
            if (!dialog.grab().save(dialogShot)) status = 1;
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
    afterShow(formMain, formDUTHiba);
    return app.exec();
}
