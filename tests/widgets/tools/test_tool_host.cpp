// The tools on a host that is not the main window: all they need of it is the narrow interface.
#include "app/texts/Texts.h"
#include "app/tools/ToolHost.h"
#include "app/tools/ToolWindows.h"
#include "instrument/codes.h"

#include <QAction>
#include <QLabel>
#include <QMenuBar>
#include <gtest/gtest.h>

using namespace vx::app::tools;
using Events = std::vector<std::function<void()>>;

struct TestHost final : ToolHost {
    QWidget window;
    QMenuBar* bar = new QMenuBar(&window);
    QMenu* menu = bar->addMenu(QStringLiteral("Tools"));
    vx::instrument::Reply reply;
    bool english = true, writeDown = false;
    QString waiting;
    Events replyShown, languageApplied, portChanged;

    QWidget* hostWindow() override { return &window; }
    QMenuBar* toolsMenuBar() const override { return bar; }
    QMenu* toolsMenu() const override { return menu; }
    const vx::instrument::Reply& lastReply() const override { return reply; }
    bool makerAccess() const override { return false; }
    QString selectedLanguage() const override { return english ? "english" : "magyar"; }
    QString inLanguage(vx::app::Text key) const override { return vx::app::textIn(key, english); }
    bool settingsWriteDown() const override { return writeDown; }
    QString settingsPath() const override { return {}; }
    QString waitingForPort() const override { return waiting; }
    void onReplyShown(QObject*, std::function<void()> f) override { replyShown.push_back(f); }
    void onLanguageApplied(QObject*, std::function<void()> f) override { languageApplied.push_back(f); }
    void onLinkExchanged(QObject*, std::function<void(const LinkExchange&, bool)>) override {}
    void onPortStateChanged(QObject*, std::function<void()> f) override { portChanged.push_back(f); }
};

TEST(ToolHostTest, TheToolsFollowTheHostsStateAndEvents) {
    TestHost host;
    ToolWindows tools(host, {});
    const auto fire = [](const Events& events) {
        for (const auto& f : events)
            f();
    };
    host.english = false;
    fire(host.languageApplied);
    EXPECT_EQ(tools.Action_Trend->text(), "Élő &trend");

    host.reply.InputValue = 12.5;
    host.writeDown = true;
    fire(host.replyShown);
    ASSERT_TRUE(tools.latest());
    EXPECT_EQ(tools.latest()->input, 12.5);
    // The instrument's echo after the write was asked for confirms it.
    host.reply.AcknowledgeFlags = vx::instrument::kCmdStoreSettings;
    fire(host.replyShown);
    EXPECT_TRUE(tools.Label_Note->toolTip().endsWith("A beállítások a készülékbe írva"));

    host.waiting = QStringLiteral("/dev/ttyUSB0");
    fire(host.portChanged);
    EXPECT_EQ(tools.Label_Note->toolTip(), "Várakozás a(z) /dev/ttyUSB0 visszatérésére");
}
