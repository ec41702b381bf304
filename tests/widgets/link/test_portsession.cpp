// The port session on its own, without a panel: its life's events over a pseudo-terminal reached through
// a link, lost when the far end closes and back when the link points to a new one; and the trace of it
// all that --verbose turns on. Over a network port, a server that comes back slow holds nothing up.
#include "link/logging.h"
#include "link/portsession.h"
#include "listener.h"
#include "ptypair.h"
#include "ser2net.h"
#include "waitfor.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

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
    ASSERT_WAIT(s.state() == TPortSession::State::LostWaiting, 3000);
    EXPECT_EQ(log, (Log{"lost, waiting", "*lost"}));
    EXPECT_EQ(s.waitingForPort().toStdString(), port);
    EXPECT_EQ(s.portLamp(), TPortSession::PortLamp::Failed);
    EXPECT_TRUE(s.notice().text.contains("waiting")) << s.notice().text.toStdString();

    log.clear();
    PtyPair second;
    fs::remove(port);
    fs::create_symlink(second.slavePath(), port);
    ASSERT_WAIT(s.state() == TPortSession::State::Open, 3000);
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

// The server at a lost network port comes back as one that takes connections but never agrees the line
// settings: the session reopens off the event loop, stays waiting, and reconnects once a good server is
// back; Close during such a reopen gives it up.
TEST(PortSession, ReopensALostNetworkPortWithoutHoldingTheEventLoop) {
    using State = TPortSession::State;
    PtyPair device;
    Ser2net server(device.slavePath(), mb::port::NetKind::Rfc2217);
    ASSERT_TRUE(server.start());
    const QString address = QString::fromStdString(server.address());
    TPortSession s;
    std::vector<std::string> log;
    QObject::connect(&s, &TPortSession::stateChanged,
                     [&](State st) { log.push_back(mb::port::lifeStateName(st)); });
    QObject::connect(&s, &TPortSession::reconnected, [&] { log.push_back("*reconnected"); });
    // The longest the event loop went without serving this timer.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
    const auto loseTheServerToASilentOne = [&] {
        server.stop();
        EXPECT_WAIT(s.state() == State::LostWaiting, 5000);
        return std::make_unique<Listener>(true, static_cast<std::uint16_t>(server.port()), 16);
    };
    ASSERT_TRUE(s.openPort(address)) << s.portErrorText().toStdString();

    auto silent = loseTheServerToASilentOne();
    log.clear();
    sinceTick.start();
    ticker.start(10);
    // The reopen waits out the whole bound for the line settings, then the session waits again.
    ASSERT_WAIT(log.size() >= 2, 10000);
    EXPECT_EQ(log[0], "reconnecting");
    EXPECT_EQ(log[1], "lost, waiting");
    vx::test::waitUntil([] { return false; }, 100); // a tick after the attempt counts its gap too
    EXPECT_LT(longestGap, 1000) << "the event loop was held";
    EXPECT_EQ(s.waitingForPort(), address);
    EXPECT_EQ(s.portLamp(), TPortSession::PortLamp::Failed);
    EXPECT_TRUE(s.portErrorText().contains("no RFC 2217 server")) << s.portErrorText().toStdString();

    silent.reset();
    ASSERT_TRUE(server.start());
    ASSERT_WAIT(s.state() == State::Open, 10000);
    EXPECT_EQ(log.back(), "*reconnected");

    silent = loseTheServerToASilentOne();
    ASSERT_WAIT(s.state() == State::Reconnecting, 10000);
    s.close();
    EXPECT_EQ(s.state(), State::Closed);
    EXPECT_TRUE(s.waitingForPort().isEmpty());
    EXPECT_EQ(s.portLamp(), TPortSession::PortLamp::Off);
    silent.reset();
    ASSERT_TRUE(server.start());
    EXPECT_FALSE(vx::test::waitUntil([&] { return s.state() != State::Closed; }, 1000))
        << "a reopen given up came back";
}

} // namespace
