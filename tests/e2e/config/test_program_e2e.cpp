// The configurator as a process, as the desktop runs it.
#include "sim/harness.h"

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

// Logout, shutdown and kill send SIGHUP or SIGTERM: the program ends as closing its window ends it, with
// the port closed and the settings written.
TEST(Program, TerminationSignalsEndItAsClosingTheWindowDoes) {
    vx::sim::SimProcess sim(VX2207_SIM, {});
    ASSERT_TRUE(sim.started());
    QTemporaryDir dir;
    for (const int sig : {SIGTERM, SIGHUP}) {
        const QString ini = dir.filePath(QStringLiteral("vx%1.ini").arg(sig));
        qputenv("VX_SETTINGS_FILE", QFile::encodeName(ini));
        qputenv("VX_OPEN_PORT", QByteArray::fromStdString(sim.devicePath()));
        qputenv("VX_EXIT_AFTER_SHOW", "1"); // "shown ..." once the window is up; the port opens next
        // The harness starts any program that prints a line when it is ready.
        vx::sim::SimProcess program(VX2207_CONFIG, {}, false);
        for (const char* name : {"VX_SETTINGS_FILE", "VX_OPEN_PORT", "VX_EXIT_AFTER_SHOW"})
            qunsetenv(name);
        ASSERT_TRUE(program.started()) << sig;
        ASSERT_EQ(::kill(program.pid(), sig), 0);
        EXPECT_EQ(program.stop(), 0) << sig; // exited by itself, not killed by the signal
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << sig;
        const QByteArray text = f.readAll();
        EXPECT_TRUE(text.startsWith("[Date]\nDate=")) << text.constData();
        EXPECT_TRUE(text.contains("\nMBLastUsedPort=" + QByteArray::fromStdString(sim.devicePath()) + "\n"));
        EXPECT_TRUE(text.contains("\n[Language]\nGsSelectedLanguage=magyar\n"));
    }
}
