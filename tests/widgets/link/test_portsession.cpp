// The port session on its own, without a panel: its life's events over a pseudo-terminal reached through
// a link, lost when the far end closes and back when the link points to a new one.
#include "link/logging.h"
#include "link/portsession.h"
#include "ptypair.h"

#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Serves events until `done` holds; false after `ms` without.
template <typename F> bool eventually(F done, int ms = 3000) {
    for (QDeadlineTimer end(ms); !done();) {
        if (end.hasExpired()) return false;
        QTest::qWait(5);
    }
    return true;
}

TEST(PortSession, OpensLosesWaitsReconnectsAndClosesWithoutAWindow) {
    const fs::path dir = fs::path(testing::TempDir()) / ("vx_session_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string port = (dir / "vx.tty").string();
    auto first = std::make_unique<PtyPair>();
    fs::create_symlink(first->slavePath(), port);
    ::setenv("MB_EXTRA_PORTS", port.c_str(), 1);

    TPortSession s;
    std::vector<std::string> log;
    QObject::connect(&s, &TPortSession::stateChanged,
                     [&](TPortSession::State st) { log.push_back(mb::port::lifeStateName(st)); });
    QObject::connect(&s, &TPortSession::opened, [&] { log.push_back("*opened"); });
    QObject::connect(&s, &TPortSession::closed, [&] { log.push_back("*closed"); });
    QObject::connect(&s, &TPortSession::lost, [&] { log.push_back("*lost"); });
    QObject::connect(&s, &TPortSession::reconnected, [&] { log.push_back("*reconnected"); });
    using Log = std::vector<std::string>;

    ASSERT_TRUE(s.openPort(QString::fromStdString(port)));
    EXPECT_EQ(log, (Log{"opening", "open", "*opened"}));
    EXPECT_EQ(s.portLamp(), TPortSession::PortLamp::Open);
    EXPECT_TRUE(s.openPort(QString::fromStdString(port))) << "already open: nothing happens";
    EXPECT_EQ(log.size(), 3u);

    log.clear();
    first.reset(); // the far end closes
    ASSERT_TRUE(eventually([&] { return s.state() == TPortSession::State::LostWaiting; }));
    EXPECT_EQ(log, (Log{"lost, waiting", "*lost"}));
    EXPECT_EQ(s.waitingForPort().toStdString(), port);
    EXPECT_EQ(s.portLamp(), TPortSession::PortLamp::Failed);
    EXPECT_TRUE(s.notice().text.contains("waiting")) << s.notice().text.toStdString();

    log.clear();
    PtyPair second;
    fs::remove(port);
    fs::create_symlink(second.slavePath(), port);
    ASSERT_TRUE(eventually([&] { return s.state() == TPortSession::State::Open; }));
    EXPECT_EQ(log, (Log{"reconnecting", "open", "*reconnected"}));
    EXPECT_TRUE(s.engine().MBPortOpen());
    EXPECT_TRUE(s.notice().good);

    log.clear();
    s.close();
    s.close();
    EXPECT_EQ(log, (Log{"closed", "*closed"}));
    EXPECT_EQ(s.portLamp(), TPortSession::PortLamp::Off);
    EXPECT_TRUE(s.waitingForPort().isEmpty());

    ::unsetenv("MB_EXTRA_PORTS");
    fs::remove_all(dir);
}

// The trace a user's report carries: silent by default, the port's life and the frames after --verbose.
TEST(PortSession, TraceIsSilentUntilAskedFor) {
    EXPECT_FALSE(lcPort().isDebugEnabled());
    EXPECT_FALSE(lcLink().isDebugEnabled());
    vx::enableVerboseLogging();
    ASSERT_TRUE(lcPort().isDebugEnabled() && lcLink().isDebugEnabled());

    static std::vector<std::string> trace;
    trace.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& c, const QString& m) {
            trace.push_back(std::string(c.category) + " " + m.toStdString());
        });
    PtyPair pty;
    ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
    {
        TPortSession s;
        ASSERT_TRUE(s.openPort(QString::fromStdString(pty.slavePath())));
        s.engine().MBMasterSend(0);
        EXPECT_TRUE(eventually([&] { return !pty.read(6, 100).empty(); }));
        s.close();
    }
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    ::unsetenv("MB_EXTRA_PORTS");

    const auto has = [](const std::string& text) {
        return std::any_of(trace.begin(), trace.end(),
                           [&](const std::string& line) { return line.find(text) != std::string::npos; });
    };
    for (const std::string& line : std::vector<std::string>{
             "vx.port open asked: closed -> opening", "vx.port opening " + pty.slavePath(),
             "vx.port close asked: open -> closed", "vx.link sent ", "vx.link outcome: Closed Port"})
        EXPECT_TRUE(has(line)) << line;
}

} // namespace
