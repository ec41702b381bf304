// The window on network ports through ser2net and on the demo instrument, as an engineer uses them.
#include "app/Main.h"
#include "app/tools/DemoBanner.h"
#include "instrument/codes.h"
#include "link/mb.h"
#include "listener.h"
#include "ser2net.h"
#include "sim/harness.h"
#include "simwindow.h"
#include "waitfor.h"
#include "widgets/pagecontrol.h"
#include "widgets/speedbutton.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>

using namespace std::chrono_literals;
using mb::port::NetKind;

namespace {

struct NetWindow {
    QTemporaryDir dir;
    std::unique_ptr<TForm_Main> w;
    explicit NetWindow(const std::string& path = ::getenv("PATH"), QStringList arguments = {}) {
        // The demo's simulator is looked for when the panel is made.
        ::setenv("PATH", path.c_str(), 1);
        TForm_Main::Options o;
        o.settingsPath = dir.filePath("vx.ini");
        o.arguments = std::move(arguments);
        w = std::make_unique<TForm_Main>(std::move(o));
        w->FormActivate();
    }
    ~NetWindow() {
        if (w) w->MB1->MBClosePort();
    }
    // Waits for the condition, reply by reply or event by event, for at most `ms`.
    template <typename F> bool until(F condition, int ms = 8000) { return waitOn(*w, condition, {.ms = ms}); }
    QString label(const char* name) const { return w->findChild<QLabel*>(name)->text(); }
    bool listed(const QString& text) const {
        for (const auto& e : w->MB1->MBPortEntries())
            if (QString::fromStdString(mb::port::shortName(e.info)) == text) return true;
        return false;
    }
};

class WindowThroughSer2net : public ::testing::TestWithParam<NetKind> {};

} // namespace

TEST_P(WindowThroughSer2net, PollsWritesAndComesBackAfterTheServerRestarts) {
    vx::sim::SimProcess sim(VX2207_SIM, {});
    ASSERT_TRUE(sim.started());
    Ser2net server(sim.devicePath(), GetParam());
    ASSERT_TRUE(server.start());
    NetWindow nw;
    const QString address = QString::fromStdString(server.address());
    ASSERT_TRUE(nw.w->MB1->MBOpenPort(address)) << nw.w->MB1->MBPortErrorText().toStdString();
    ASSERT_TRUE(nw.until([&] { return nw.w->MB1->MBNumberOfRxFrames() >= 5; }));
    EXPECT_EQ(nw.label("Label_LastStatus"), "Last status: OK");
    EXPECT_TRUE(nw.label("Label_RxCounter").endsWith(" frames"));
    EXPECT_TRUE(nw.listed(address));
    EXPECT_TRUE(nw.until([&] { return nw.label("Label_PortNotice").startsWith("Round trip: "); }, 3000));

    nw.w->SpeedButton_WriteSettings->setDown(true);
    EXPECT_TRUE(nw.until([&] { return !nw.w->SpeedButton_WriteSettings->Down(); })); // acknowledged

    server.stop();
    ASSERT_TRUE(nw.until([&] { return nw.w->MB1->MBWaitingForPort() == address; }));
    EXPECT_FALSE(nw.w->MB1->MBPortOpen());
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(nw.until([&] { return nw.w->MB1->MBPortOpen(); }));
    const auto frames = nw.w->MB1->MBNumberOfRxFrames();
    EXPECT_TRUE(nw.until([&] { return nw.w->MB1->MBNumberOfRxFrames() > frames; }));

    // The address is remembered for the next start; over RFC 2217 the panel's rate reaches the server.
    nw.w->MB1->MBClosePort();
    if (GetParam() == NetKind::Rfc2217) {
        nw.w->MB1->setMBBaud(mb::baud057600);
        ASSERT_TRUE(nw.w->MB1->MBOpenPort(address));
        const auto* c = dynamic_cast<mb::port::NetChannel*>(nw.w->MB1->MBChannel().channel());
        ASSERT_TRUE(c);
        EXPECT_EQ(c->serverBaud(), 57600u);
        nw.w->MB1->MBClosePort();
    }
    nw.w->SaveSettings();
    QFile ini(nw.dir.filePath("vx.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains(("RecentPorts=" + address).toUtf8()));
}

INSTANTIATE_TEST_SUITE_P(Modes, WindowThroughSer2net, ::testing::Values(NetKind::Raw, NetKind::Rfc2217),
                         [](const auto& info) { return info.param == NetKind::Raw ? "Raw" : "Rfc2217"; });

TEST(WindowNetwork, RefusedOrSilentAddressesFailQuicklyWithAReason) {
    NetWindow nw;
    const int port = [] {
        Ser2net unused("", NetKind::Raw); // only for a free port number nobody listens on
        return std::stoi(unused.address().substr(unused.address().rfind(':') + 1));
    }();
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(nw.w->MB1->MBOpenPort(QStringLiteral("tcp://127.0.0.1:%1").arg(port)));
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_TRUE(nw.w->MB1->MBPortErrorText().contains("refused the connection"));
}

TEST(WindowNetwork, AnAddressTypedFromTheInstrumentMenuOpensAndIsRemembered) {
    vx::sim::SimProcess sim(VX2207_SIM, {"--tcp", "0"});
    ASSERT_TRUE(sim.started());
    NetWindow nw;
    // The prompt is modal: each answer is typed once it is up. A malformed one is asked for again.
    QStringList answers{"tcp://no-port", QString::fromStdString(sim.devicePath())};
    QString secondLabel;
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d || answers.isEmpty()) return;
        if (answers.size() == 1) secondLabel = d->findChild<QLabel*>()->text();
        d->findChild<QComboBox*>("ComboBox_NetworkPort")->setCurrentText(answers.takeFirst());
        d->accept();
    });
    typist.start(20);
    // The window's menu offers the panel's own entry (also in the port list's context menu).
    QAction* entry = nw.w->MB1->findChild<QAction*>("Action_NetworkPort");
    ASSERT_TRUE(nw.w->Menu_Instrument->actions().contains(entry));
    entry->trigger();
    EXPECT_TRUE(secondLabel.startsWith("tcp://no-port is no network address."));
    ASSERT_WAIT(nw.w->MB1->MBPortOpen(), 5000);
    EXPECT_TRUE(nw.until([&] { return nw.w->MB1->MBNumberOfRxFrames() >= 1; }));
    EXPECT_FALSE(entry->isEnabled());
    EXPECT_EQ(nw.w->MB1->MBChannel().recentAddresses.front(), sim.devicePath());
    EXPECT_TRUE(nw.listed(QString::fromStdString(sim.devicePath())));
}

// Through the panel's Open button: an address that refuses, and one that never answers (a listener
// whose one queue place is taken drops the SYN, as a black-holed address does). The window runs on
// while the connect is under way, the panel shows it, and it ends with the reason below the panel; or
// Close gives it up.
TEST(WindowNetwork, AConnectUnderWayKeepsTheWindowRunningAndEndsWithAReason) {
    const Listener refusing(false), full;
    const int queued = mb::port::connectTcp(full.address(), 1000ms, nullptr);
    ASSERT_GE(queued, 0);
    NetWindow nw;
    nw.w->MB1->MBChannel().options.bound = 1500ms;
    auto* open = nw.w->MB1->findChild<QPushButton*>("SpeedButton_Open");
    const struct {
        const char* what;
        std::uint16_t port;
        bool closeMidway;
        const char* notice;
    } rows[] = {
        {"refused", refusing.port, false, "refused the connection"},
        {"never answers", full.port, false, "did not answer within 1500 ms"},
        {"given up", full.port, true, ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const std::string address = "tcp://127.0.0.1:" + std::to_string(r.port);
        nw.w->MB1->MBChannel().recentAddresses = {address};
        nw.w->MB1->MBRefreshPortList();
        nw.w->MB1->session().choose(static_cast<int>(nw.w->MB1->MBPortEntries().size()) - 1);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(20);
        QElapsedTimer held;
        held.start();
        QTest::mouseClick(open, Qt::LeftButton);
        EXPECT_LT(held.elapsed(), 500);
        if (r.closeMidway) {
            EXPECT_EQ(nw.w->MB1->session().state(), TPortSession::State::Opening);
            EXPECT_EQ(open->text().toStdString(), "Close");
            EXPECT_EQ(nw.label("Label_PortNotice").simplified().toStdString(),
                      "Connecting to " + address + "…");
            vx::test::waitUntil([] { return false; }, 300);
            QTest::mouseClick(open, Qt::LeftButton);
        }
        ASSERT_WAIT(nw.w->MB1->session().state() == TPortSession::State::Closed, 5000);
        if (r.port == full.port && !r.closeMidway) {
            EXPECT_GE(ticks, 20); // the 1.5 s were the window's
        }
        EXPECT_EQ(open->text().toStdString(), "Open");
        EXPECT_FALSE(nw.w->MB1->MBPortOpen());
        const QString notice = nw.label("Label_PortNotice").simplified(); // broken into lines
        EXPECT_TRUE(*r.notice ? notice.contains(r.notice) : notice.isEmpty()) << notice.toStdString();
        EXPECT_EQ(nw.w->MB1->session().portLamp(),
                  r.closeMidway ? TPortSession::PortLamp::Off : TPortSession::PortLamp::Failed);
    }
    ::close(queued);
}

TEST(WindowDemo, ListedAndOpenedWithItsBannerThroughTheSimulatorOrInProcess) {
    const std::string simDir = std::filesystem::path(VX2207_SIM).parent_path();
    const QString demoV = QStringLiteral("Demo instrument (simulated), VX2207 V");
    for (const bool installed : {true, false}) {
        SCOPED_TRACE(installed ? "the simulator installed" : "no simulator: the model in-process");
        NetWindow nw(installed ? simDir + ":/usr/bin:/bin" : "/usr/bin:/bin");
        nw.w->MB1->MBRefreshPortList();
        ASSERT_TRUE(nw.listed(demoV));
        EXPECT_TRUE(nw.listed(QStringLiteral("Demo instrument (simulated), VX2207 M")));
        ASSERT_TRUE(nw.w->MB1->MBOpenPort(QStringLiteral("demo://M")));
        EXPECT_EQ(dynamic_cast<mb::port::DemoChannel*>(nw.w->MB1->MBChannel().channel()) != nullptr,
                  installed);
        ASSERT_TRUE(nw.until([&] { return nw.w->MB1->MBNumberOfRxFrames() >= 2; }));
        EXPECT_EQ(nw.w->LastReply.iTypeOfInstrument, 1);
        EXPECT_TRUE(nw.w->Label_DemoBanner->isVisibleTo(nw.w.get()));
        EXPECT_TRUE(nw.w->Label_DemoBanner->text().contains("szimulált"));
        nw.w->ApplyLanguage("english");
        EXPECT_TRUE(nw.w->Label_DemoBanner->text().contains("simulated"));
        nw.w->MB1->MBClosePort();
        EXPECT_FALSE(nw.w->Label_DemoBanner->isVisibleTo(nw.w.get()));
    }
    // A session without the window's model (as the command-line tool has) needs the simulator.
    TPortSession bare;
    bare.refreshPortList();
    EXPECT_TRUE(std::none_of(bare.portEntries().begin(), bare.portEntries().end(),
                             [](const auto& e) { return mb::port::isDemoName(e.info.path); }));
    EXPECT_FALSE(bare.openPort(QStringLiteral("demo://V")));
}

// The service pages against the demo instrument, in the maker's mode, one variant through the
// simulator and the other in-process: the output check moves the output, and a step of the output
// calibration forces the PWM the wizard sets.
TEST(WindowDemo, TheServicePagesWorkAgainstIt) {
    const std::string simDir = std::filesystem::path(VX2207_SIM).parent_path();
    for (const auto& [variant, path] : {std::pair{"demo://V", simDir + ":/usr/bin:/bin"},
                                        std::pair{"demo://M", std::string("/usr/bin:/bin")}}) {
        SCOPED_TRACE(variant);
        NetWindow nw(path, {"/QARNEL"});
        ASSERT_TRUE(nw.w->MB1->MBOpenPort(QString::fromLatin1(variant)));
        ASSERT_TRUE(nw.until([&] { return nw.w->MB1->MBNumberOfRxFrames() >= 2; }));
        EXPECT_TRUE(nw.w->Label_DemoBanner->isVisibleTo(nw.w.get()));

        nw.w->PageControl1->setActivePage(nw.w->TabSheet_KimenetEllenorzes);
        int lastPwm = -1;
        for (int position : {4, 12, 20}) {
            // The instrument drives the fraction asked for; the PWM it reports rises with it.
            nw.w->TrackBar_OutCheck->setValue(position);
            ASSERT_TRUE(nw.until([&] {
                return std::abs(nw.w->LastReply.OutputFraction - position / 20.0) < 1e-6;
            })) << position;
            EXPECT_GT(nw.w->LastReply.PwmValue, lastPwm);
            lastPwm = nw.w->LastReply.PwmValue;
        }

        nw.w->PageControl1->setActivePage(nw.w->TabSheet_OutputCalibration);
        nw.w->Button_Out50Percents->click();
        ASSERT_NE(nw.w->uPWMForce, 0);
        EXPECT_TRUE(nw.until([&] { return nw.w->LastReply.PwmValue == nw.w->uPWMForce; }));
        const int step = nw.w->OutputCalibrationStep();
        nw.w->SpeedButton_OutputCalibrationNext->click();
        EXPECT_EQ(nw.w->OutputCalibrationStep(), step + 1);
        EXPECT_EQ(nw.label("Label_LastStatus"), "Last status: OK");
        EXPECT_TRUE(nw.w->Label_DemoBanner->isVisibleTo(nw.w.get()));
    }
}
