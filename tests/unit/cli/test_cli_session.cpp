// The session's rules over a scripted link: what goes out before the first reply, after a loss and when
// the port closes with the output forced.
#include "cli/Session.h"
#include "instrument/codes.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
namespace ins = vx::instrument;

struct ScriptedLink : vx::cli::InstrumentLink {
    std::vector<ins::Request> sent;
    bool answers = true;
    bool open(const std::string&, std::uint32_t, mb::port::OpenError*) override { return true; }
    void send(const ins::Request& q, unsigned) override {
        sent.push_back(q);
        QTimer::singleShot(1, [this] {
            if (answers)
                onEnd(ins::Reply{}, true, {});
            else
                onEnd(std::nullopt, false, "Time Out");
        });
    }
    void close() override {}
};

struct CliSession : ::testing::Test {
    int argc = 1;
    char name[8] = "test";
    char* argv[1] = {name};
    QCoreApplication app{argc, argv};
    ScriptedLink link;
    vx::cli::Session s{link, 300};
    void SetUp() override { ASSERT_TRUE(s.open("/dev/x", 115200, nullptr)); }
};

vx::app::RequestInputs store() {
    vx::app::RequestInputs in;
    in.commandFlags = ins::kCmdStoreSettings;
    return in;
}

} // namespace

TEST_F(CliSession, NoCommandBeforeTheFirstReplyNorAfterSilenceOrALoss) {
    EXPECT_EQ(s.exchange(store()).how, vx::cli::Waited::Reply);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].CommandFlags, 0); // the instrument has not answered yet on this connection
    EXPECT_EQ(s.exchange(store()).how, vx::cli::Waited::Reply);
    EXPECT_EQ(link.sent.back().CommandFlags, ins::kCmdStoreSettings);

    // Silence withdraws the command; it is not pressed again on whatever answers next.
    link.answers = false;
    EXPECT_EQ(s.exchange(store()).how, vx::cli::Waited::Withdrawn);
    link.answers = true;
    const std::size_t before = link.sent.size();
    EXPECT_EQ(s.exchange(store()).how, vx::cli::Waited::Reply);
    EXPECT_EQ(link.sent[before].CommandFlags, 0);

    link.onLost("unplugged");
    const std::size_t sent = link.sent.size();
    EXPECT_EQ(s.exchange(store()).how, vx::cli::Waited::Lost);
    EXPECT_EQ(link.sent.size(), sent);
}

TEST_F(CliSession, ClosingReleasesAForcedOutputAndSilenceTimesOut) {
    vx::app::RequestInputs check;
    check.outputCheckPageActive = true;
    check.outputCheckPosition = 20;
    ASSERT_EQ(s.exchange(check).how, vx::cli::Waited::Reply);
    EXPECT_EQ(link.sent.back().DirectControl, 255);
    s.interrupt(); // Ctrl-C does not skip the release
    s.close();
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.sent.back().DirectControl, 0);

    link.answers = false;
    ASSERT_TRUE(s.open("/dev/x", 115200, nullptr));
    const vx::cli::Outcome o = s.read();
    EXPECT_EQ(o.how, vx::cli::Waited::TimedOut);
    EXPECT_EQ(o.why, "no reply (Time Out)");
    EXPECT_GT(link.sent.size(), 3u); // tried again after each failed transaction
}
