// The port session on its own, without a panel: its life's events over a pseudo-terminal reached through
// a link, lost when the far end closes and back when the link points to a new one; and the trace of it
// all that --verbose turns on.
#include "link/logging.h"
#include "link/portsession.h"
#include "ptypair.h"

#include <QTest>
#include <algorithm>
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

std::vector<std::string> trace;

TEST(PortSession, OpensLosesWaitsReconnectsAndClosesWithoutAWindowAndTracesIt) {
    EXPECT_FALSE(lcPort().isDebugEnabled() || lcLink().isDebugEnabled()) << "silent unless asked for";
    vx::enableVerboseLogging();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& c, const QString& m) {
            trace.push_back(c.category + (" " + m.toStdString()));
        });

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
    EXPECT_TRUE(s.openPort(QString::fromStdString(port))) << "already open: nothing happens";
    EXPECT_EQ(log, (Log{"opening", "open", "*opened"}));
    EXPECT_EQ(s.portLamp(), TPortSession::PortLamp::Open);
    s.engine().MBMasterSend(0);
    EXPECT_FALSE(first->read(6).empty());

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

    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    ::unsetenv("MB_EXTRA_PORTS");
    fs::remove_all(dir);
    for (const std::string& line : std::vector<std::string>{
             "vx.port opening " + port, "vx.link sent ", "vx.link outcome: Closed Port",
             "vx.port device lost: open -> lost, waiting", "vx.port reopening " + port,
             "vx.port opened: reconnecting -> open", "vx.port close asked: open -> closed"})
        EXPECT_TRUE(std::any_of(trace.begin(), trace.end(), [&](auto& t) { return t.find(line) == 0; }))
            << line;
}

} // namespace
