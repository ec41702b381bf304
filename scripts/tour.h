#pragma once
// What the screenshot tours share: waiting for the window's next good reply in a real event loop.
#include "app/Main.h"

#include <QEventLoop>
#include <QTimer>

inline bool nextReply(TForm_Main& w, int timeoutMs = 5000) {
    QEventLoop loop;
    bool got = false;
    const auto c = QObject::connect(&w, &TForm_Main::replyShown, &loop, [&] {
        got = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(c);
    return got;
}
