#pragma once
// What the screenshot tours share (besides the program's own start, app/Startup.h): a settings file choosing
// the language, opening the simulator's port and waiting for the window's next good reply in a real event
// loop.
#include "app/Main.h"
#include "app/Startup.h"
#include "link/mb.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <string>

// A settings file in `dir` that selects `language`: its path, empty when it cannot be written.
inline QString languageSettings(const QTemporaryDir& dir, const QByteArray& language) {
    QFile settings(dir.filePath(QStringLiteral("vx.ini")));
    if (!settings.open(QIODevice::WriteOnly)) return {};
    settings.write("[Language]\nGsSelectedLanguage=" + language + "\n");
    return settings.fileName();
}

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

// Opens the simulator's device on the link panel as a user would and waits for the first good reply.
inline bool openSimulator(TForm_Main& w, const std::string& device) {
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(device));
    return w.MB1->MBOpenPort(QString::fromStdString(device)) && nextReply(w);
}
