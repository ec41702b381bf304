// The window where the outside world misbehaves: signals, special files, settings that cannot be saved
// and replies shorter than their layout.
#include "../link/linktesting.h"
#include "app/Main.h"
#include "app/TerminationSignals.h"
#include "waitfor.h"

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

struct Robustness : ::testing::Test {
    QTemporaryDir dir;
    std::unique_ptr<TForm_Main> open(const QString& settings) {
        TForm_Main::Options o;
        o.settingsPath = settings;
        o.arguments = QStringList{};
        auto w = std::make_unique<TForm_Main>(std::move(o));
        w->FormActivate();
        return w;
    }
};

TEST_F(Robustness, CtrlCClosesAsTheUserWouldAndABrokenPipeIsNoDeath) {
    auto w = open(dir.filePath("vx.ini"));
    w->show();
    vx::app::closeOnTerminationSignals(*w);
    struct sigaction pipe {};
    sigaction(SIGPIPE, nullptr, &pipe);
    EXPECT_EQ(pipe.sa_handler, SIG_IGN);
    ::raise(SIGINT);
    ASSERT_WAIT(!w->isVisible(), 5000);
    EXPECT_TRUE(QFile::exists(dir.filePath("vx.ini")));
}

TEST_F(Robustness, AFailedSaveIsReportedOnceAndABackupFromAFifoIsRefusedAtOnce) {
    const QString settings = dir.filePath("vx.ini");
    {
        QFile f(settings);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Com]\n");
    }
    QFile::setPermissions(settings, QFileDevice::ReadOwner);
    auto w = open(settings);
    const QString fifo = dir.filePath("backup.json");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString refused = w->RestoreSettingsBackup(fifo, nullptr);
    EXPECT_TRUE(refused.contains("közönséges") || refused.contains("regular")) << refused.toStdString();
    ::testing::internal::CaptureStderr();
    w->FormClose();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("could not be saved"), std::string::npos) << said;
}

TEST_F(Robustness, AReplyShorterThanItsLayoutIsDroppedAndCounted) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
    auto w = open(dir.filePath("vx.ini"));
    ASSERT_WAIT(w->findChild<QPushButton*>("SpeedButton_Open")->isEnabled(), 5000);
    ASSERT_TRUE(w->MB1->MBOpenPort(QString::fromStdString(pty.slavePath())));
    ASSERT_WAIT(!pty.drain().empty(), 3000); // the first request is on its way
    QTest::qWait(100);
    pty.drain();
    ASSERT_TRUE(pty.write(reply(w->MB1->MBMasterAddressToSlave(), 0, std::vector<std::uint8_t>(10, 0x55))));
    ASSERT_WAIT_EQ(w->ShortReplies, 1, 3000);
    EXPECT_FALSE(w->HaveReply);
    w->MB1->MBClosePort();
    ::unsetenv("MB_EXTRA_PORTS");
}

} // namespace
