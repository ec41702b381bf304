#include "app/TerminationSignals.h"

#include "app/Main.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vx::app {

namespace {

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void closeOnTerminationSignals(TForm_Main& main) {
    std::signal(SIGPIPE, SIG_IGN);
    // The handler only wakes the GUI thread through a pipe.
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &main);
    QObject::connect(notifier, &QSocketNotifier::activated, &main, [&main, notifier] {
        notifier->setEnabled(false);
        char drain[16];
        while (::read(signalPipe[0], drain, sizeof drain) > 0) {
        }
        main.close();
        QCoreApplication::quit(); // also out of a modal dialog's loop
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int s : {SIGTERM, SIGHUP, SIGINT})
        sigaction(s, &sa, nullptr);
}

} // namespace vx::app
