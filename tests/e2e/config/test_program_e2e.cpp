// The configurator as a process, as the desktop runs it.
#include "sim/harness.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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
        QProcess program;
        program.setReadChannel(QProcess::StandardError);
        // The port given on the command line, polled: its trace shows the first good reply.
        program.start(VX2207_CONFIG,
                      {"--verbose", "--settings", ini, "--port", QString::fromStdString(sim.devicePath())});
        struct Reap {
            QProcess& p;
            ~Reap() {
                if (p.state() != QProcess::NotRunning) p.kill(), p.waitForFinished();
            }
        } reap{program};
        const QRegularExpression polled(QStringLiteral("vx.link outcome: OK, attempt [1-9]"));
        QString trace;
        while (!trace.contains(polled) && program.waitForReadyRead(10000))
            trace += QString::fromLocal8Bit(program.readAllStandardError());
        ASSERT_TRUE(trace.contains(polled)) << sig << trace.right(2000).toStdString();
        ASSERT_EQ(::kill(static_cast<pid_t>(program.processId()), sig), 0);
        ASSERT_TRUE(program.waitForFinished(10000)) << sig;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << sig; // ended by itself, not by the signal
        EXPECT_EQ(program.exitCode(), 0) << sig;
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << sig;
        const QByteArray text = f.readAll();
        EXPECT_TRUE(text.startsWith("[Date]\nDate=")) << text.constData();
        EXPECT_TRUE(text.contains("\nMBLastUsedPort=" + QByteArray::fromStdString(sim.devicePath()) + "\n"));
        EXPECT_TRUE(text.contains("\n[Language]\nGsSelectedLanguage=magyar\n"));
    }
}
