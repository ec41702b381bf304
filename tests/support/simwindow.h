#pragma once
// The configurator's window against a running vx2207-sim, as the end-to-end fixtures start it: a
// settings file of its own, the simulator's device in the port list, the port open and one good reply
// shown.
#include "app/DUTHiba.h"
#include "app/Main.h"
#include "link/mb.h"
#include "sim/harness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

// How long a wait serves the window: so many good replies, each due within 5 s (for what the instrument
// shows reply by reply), or so many milliseconds (for what comes without replies: a loss, a reconnect).
struct WaitBound {
    int replies = 0;
    int ms = 0;
};

// Serves the window's events until the condition holds; false when the bound ran out first.
template <typename F> bool waitOn(TForm_Main& w, F condition, WaitBound bound) {
    QElapsedTimer clock;
    clock.start();
    for (int replies = 0; !condition();) {
        if (bound.replies > 0 ? replies++ == bound.replies : clock.elapsed() > bound.ms) return false;
        QSignalSpy spy(&w, &TForm_Main::replyShown);
        if (!spy.wait(bound.replies > 0 ? 5000 : 100) && bound.replies > 0) return false;
    }
    return true;
}

struct SimWindow {
    QTemporaryDir dir;
    std::unique_ptr<vx::sim::SimProcess> sim;
    std::unique_ptr<TForm_Main> w;
    std::unique_ptr<TForm_DUTHiba> dialog; // the firmware dialog, where the window was made with it

    ~SimWindow() { stop(); }
    // language: the one the settings file selects; null leaves the file out (the program's default).
    // The window's handlers may be set in `prepare` before the port opens. False if anything failed.
    template <typename Prepare = void (*)(TForm_Main&)>
    bool start(
        const std::vector<std::string>& simArgs, QStringList args, const char* language,
        Prepare prepare = [](TForm_Main&) {}) {
        sim = std::make_unique<vx::sim::SimProcess>(VX2207_SIM, simArgs);
        if (!sim->started() || !makeWindow(std::move(args), language)) return false;
        prepare(*w);
        return open(sim->devicePath()) && reply();
    }
    // The window alone, with the firmware dialog as the program gives it one when asked.
    bool makeWindow(QStringList args, const char* language, bool withDialog = false) {
        if (language) {
            QFile settings(dir.filePath("vx.ini"));
            if (!settings.open(QIODevice::WriteOnly)) return false;
            settings.write(QByteArray("[Language]\nGsSelectedLanguage=") + language + "\n");
        }
        TForm_Main::Options o;
        o.settingsPath = dir.filePath("vx.ini");
        o.arguments = std::move(args);
        w = std::make_unique<TForm_Main>(std::move(o));
        if (withDialog) {
            dialog = std::make_unique<TForm_DUTHiba>(w.get());
            w->setFirmwareDialog(dialog.get());
        }
        w->FormActivate();
        return true;
    }
    // Opens `port` on the link panel as a user would pick it from the list.
    bool open(const std::string& port) {
        qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(port));
        return w->MB1->MBOpenPort(QString::fromStdString(port));
    }
    template <typename F> bool until(F condition, WaitBound bound = {.replies = 100}) {
        return waitOn(*w, condition, bound);
    }
    // Waits for the next good reply to be on screen.
    bool reply(int timeoutMs = 5000) {
        QSignalSpy spy(w.get(), &TForm_Main::replyShown);
        return spy.wait(timeoutMs);
    }
    void stop() {
        if (w) w->MB1->MBClosePort();
        dialog.reset(); // before its owner, which would delete it too
        w.reset();
        sim.reset();
    }
};

// The window in the maker's mode, without a port, as on a connection that has answered (commands may go
// out): for tests of what it would send.
struct AnsweredWindow {
    QTemporaryDir dir;
    std::unique_ptr<TForm_Main> w;

    AnsweredWindow() {
        TForm_Main::Options o;
        o.settingsPath = dir.filePath("vx.ini");
        o.arguments = QStringList{"/QARNEL"};
        w = std::make_unique<TForm_Main>(std::move(o));
        w->FormActivate();
        w->Commands.portOpened();
        w->Commands.transactionEnded(vx::app::CommandGuard::Outcome::Reply);
    }
    // The request's bytes as the next poll would send them.
    std::vector<std::uint8_t> requestBytes() {
        w->BuildRequest();
        const mb::TxFrameBuffer& tx = w->MB1->engine().txBuffer();
        return {tx.frame() + 3, tx.frame() + 3 + tx.dataNumber()};
    }
};
