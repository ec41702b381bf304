#include "fakehost.h"

#include <gtest/gtest.h>

namespace mb::test {
namespace {

class Responder : public ::testing::Test {
protected:
    void SetUp() override {
        engine.setMBMode(modeSlave);
        engine.setMBSlaveOwnAddress(2);
        engine.portOpening();
    }
    // Sends a request and returns the reply's frame bytes (empty when none was written).
    std::vector<std::uint8_t> ask(std::vector<std::uint8_t> request) {
        host.written.clear();
        feed(engine, encode(frame(std::move(request))));
        return decodeChars(host.written);
    }
    FakeHost host;
    LinkEngine engine{host};
};

TEST_F(Responder, ChecksTheIdAndAnswersErrorsWithoutData) {
    EXPECT_TRUE(engine.MBBusy());
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForCommand);
    engine.setMBSlaveID(3);
    EXPECT_EQ(ask({0x02, 0, 0}), frame({0x82, 3, 0}));
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 1u);
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForCommand);

    EXPECT_EQ(ask({0x02, 5, 1, 9}), frame({0x82, 3, 129}));
    EXPECT_EQ(engine.MBStatusString(), "Slave Error: #129");
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 1u);

    EXPECT_EQ(ask({0x02, 3, 131}), frame({0x82, 3, 130}));
    EXPECT_EQ(ask({0x02, 0, 128}), frame({0x82, 3, 0}));
    EXPECT_EQ(engine.MBStatus(), stOK);
}

TEST_F(Responder, ReservedCommandsIdentifyAndCount) {
    const std::vector<std::uint8_t> ident = {0x82, 0,   0,   0xDF, 0x07, 0x01, 0x1D, 0xDF, 0x07, 0x01,
                                             0x1D, 'M', 'B', ' ',  'S',  'l',  'a',  'v',  'e',  0};
    EXPECT_EQ(ask({0x02, 0, 129}), frame(ident));

    engine.setMBSlaveVerYear(1990);
    engine.setMBSlaveVerMonth(13);
    engine.setMBSlaveVerDay(0);
    EXPECT_EQ(engine.MBSlaveVerYear(), 2000);
    EXPECT_EQ(engine.MBSlaveVerMonth(), 12);
    EXPECT_EQ(engine.MBSlaveVerDay(), 1);

    // The frame counter: the identification above counted as one frame.
    EXPECT_EQ(ask({0x02, 0, 130}), frame({0x82, 0, 0, 2, 0, 0, 0}));
    EXPECT_EQ(ask({0x02, 0, 130}), frame({0x82, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(ask({0x02, 0, 130, 1}), frame({0x82, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 0u);
    EXPECT_EQ(ask({0x02, 0, 130, 2}), frame({0x82, 0, 0, 1, 0, 0, 0}));
}

TEST_F(Responder, ApplicationCommandsGetTheHandlersDataAndError) {
    std::vector<std::string> seen;
    engine.OnMBSlaveReceivedCommand = [&](std::uint8_t c, bool query, std::uint16_t n) {
        seen.push_back(std::to_string(c) + (query ? "q" : "") + "/" + std::to_string(n));
        engine.MBTXPutWord(static_cast<std::uint16_t>(engine.MBRXGetWord() + 1));
        if (c == 7) engine.setMBSlaveErrorCode(200);
    };
    EXPECT_EQ(ask({0x42, 0, 5, 0x10, 0x20}), frame({0x82, 0, 0, 0x11, 0x20}));
    EXPECT_EQ(ask({0x02, 0, 7}), frame({0x82, 0, 200, 1, 0}));
    EXPECT_EQ(seen, (std::vector<std::string>{"5q/2", "7/0"}));
    EXPECT_EQ(engine.MBStatusString(), "Slave Error: #200");
    // The next request starts with a cleared error.
    EXPECT_EQ(ask({0x02, 0, 0}), frame({0x82, 0, 0}));
}

TEST_F(Responder, IgnoresOtherTrafficAndProcessesBroadcastsSilently) {
    EXPECT_TRUE(ask({0x03, 0, 0}).empty()); // another address
    EXPECT_TRUE(ask({0x82, 0, 0}).empty()); // a reply from a responder
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 0u);
    EXPECT_TRUE(ask({0x00, 0, 0}).empty());
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 1u);
    EXPECT_EQ(engine.MBStatusNow(), stnReceivedCommand);
    EXPECT_FALSE(ask({0x02, 0, 0}).empty()); // and the next request is answered

    engine.setMBSlaveOwnAddress(0);
    EXPECT_EQ(engine.MBSlaveOwnAddress(), 1);
    engine.setMBSlaveOwnAddress(99);
    EXPECT_EQ(engine.MBSlaveOwnAddress(), 15);
    // MBMasterSend only marks the responder busy.
    engine.MBMasterSend(0);
    EXPECT_TRUE(engine.MBBusy());
}

TEST_F(Responder, DelayedReplyLeavesAfterTheDelay) {
    engine.setMBSlaveDelayTime(20);
    EXPECT_TRUE(ask({0x02, 0, 0}).empty());
    EXPECT_EQ(engine.MBStatusNow(), stnSending);
    host.advance(engine, 19);
    EXPECT_TRUE(host.written.empty());
    host.advance(engine, 1);
    EXPECT_EQ(decodeChars(host.written), frame({0x82, 0, 0}));
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForCommand);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 0u); // replies are not counted

    // A reply still held back when the port closes belongs to the old session: it never goes out on
    // the next one.
    host.written.clear();
    EXPECT_TRUE(ask({0x02, 0, 0}).empty());
    engine.portClosing();
    engine.portOpening();
    engine.portOpened();
    host.advance(engine, 100);
    EXPECT_TRUE(host.written.empty());
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForCommand);
}

TEST(Modes, MonitorReportsEveryGoodFrameAndSendsWithoutWaiting) {
    FakeHost host;
    LinkEngine engine{host};
    engine.setMBMode(modeDiagnostic);
    engine.portOpening();
    EXPECT_TRUE(engine.MBBusy());
    std::vector<std::uint16_t> frames;
    engine.OnMBDiagnosticReceivedAFrame = [&](std::uint16_t n) { frames.push_back(n); };
    auto chars = encode(frame({0x05, 0, 1, 1, 2}));
    auto replyChars = encode(frame({0x85, 0, 0}));
    chars.insert(chars.end(), replyChars.begin(), replyChars.end());
    feed(engine, chars);
    EXPECT_EQ(frames, (std::vector<std::uint16_t>{2, 0}));
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 2u);
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0); // reset after each end

    std::vector<TMBStatus> ends;
    engine.OnMBMasterEndOfEvent = [&](TMBStatus s, const std::string&) { ends.push_back(s); };
    engine.setMBMasterAddressToSlave(4);
    engine.MBMasterSend(0);
    EXPECT_EQ(decodeChars(host.written), frame({0x04, 0, 0}));
    EXPECT_EQ(ends, std::vector<TMBStatus>{stOK});
    EXPECT_FALSE(engine.MBBusy());
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 1u);
    EXPECT_FALSE(host.running(LinkTimer::TimeOut));

    // A handler that sends at once: frames later in the same hand-over came before that send.
    engine.OnMBDiagnosticReceivedAFrame = [&](std::uint16_t n) {
        frames.push_back(n);
        engine.MBMasterSend(0);
    };
    frames.clear();
    feed(engine, chars);
    EXPECT_EQ(frames, std::vector<std::uint16_t>{2});
    feed(engine, replyChars);
    EXPECT_EQ(frames, (std::vector<std::uint16_t>{2, 0}));
}

TEST(Modes, BytePipeKeepsEverythingUntilReset) {
    FakeHost host;
    LinkEngine engine{host};
    engine.setMBMode(modeByte);
    engine.portOpening();
    EXPECT_FALSE(engine.MBBusy());
    std::vector<std::uint16_t> events;
    engine.OnMBReceivedAByte = [&](std::uint16_t n) { events.push_back(n); };
    feed(engine, {1, 2, 3});
    feed(engine, {4});
    EXPECT_EQ(events, (std::vector<std::uint16_t>{3, 4}));
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 4u);
    EXPECT_EQ(engine.MBRXGetDWord(), 0x04030201u);
    EXPECT_EQ(host.rxFlashes, 4);
    EXPECT_EQ(engine.rxCounterText(), "4 bytes");

    std::vector<std::uint8_t> lots(3000, 0xAB);
    feed(engine, lots);
    EXPECT_TRUE(engine.MBRxBufferFull());
    EXPECT_EQ(engine.MBReceivedDataNumber(), 2048);
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 3004u);
    engine.MBResetReceiver();
    feed(engine, {9});
    EXPECT_EQ(engine.MBReceivedDataNumber(), 1);
    EXPECT_FALSE(engine.MBRxBufferFull());

    engine.MBClearTXDataBuffer();
    engine.MBTXPutString("hi"); // three bytes with the 0
    engine.MBMasterSend(0);
    EXPECT_EQ(host.written, (std::vector<std::uint8_t>{'h', 'i', 0}));
    EXPECT_EQ(host.writes, 3);
    EXPECT_EQ(host.sends, 1);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 3u);
}

TEST(Modes, StringPipeTakesOneStringPerSend) {
    FakeHost host;
    LinkEngine engine{host};
    engine.setMBMode(modeString);
    engine.setMBStopByteInStringMode(13);
    engine.portOpening();
    std::vector<std::string> strings;
    engine.OnMBReceivedAString = [&](const std::string& s) { strings.push_back(s); };
    feed(engine, {'x', 13}); // not armed yet
    EXPECT_TRUE(strings.empty());
    engine.MBTXPutString("AT");
    engine.MBMasterSend(0);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 1u);
    feed(engine, {'O'});
    feed(engine, {'K', 13, 'y', 13});
    EXPECT_EQ(strings, std::vector<std::string>{"OK\r"});
    EXPECT_EQ(engine.MBReceivedDataNumber(), 3);
    feed(engine, {'z', 13});
    EXPECT_EQ(strings.size(), 1u);
    engine.MBMasterSend(0);
    feed(engine, {'z', 13});
    EXPECT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[1], "z\r");

    // A handler that sends the next request at once: what followed the stop byte in the same hand-over
    // came before that send and is not taken as its answer.
    engine.OnMBReceivedAString = [&](const std::string& s) {
        strings.push_back(s);
        engine.MBMasterSend(0);
    };
    engine.MBMasterSend(0);
    feed(engine, {'A', 13, 'B', 13});
    EXPECT_EQ(strings.size(), 3u);
    EXPECT_EQ(strings[2], "A\r");
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0);
    feed(engine, {'C', 13});
    ASSERT_EQ(strings.size(), 4u);
    EXPECT_EQ(strings[3], "C\r");
}

TEST(Modes, ModeWritesResetStatisticsAndDropWhatTheOldModeHadUnderWay) {
    FakeHost host;
    LinkEngine engine{host};
    engine.portOpening();
    engine.MBMasterSend(0);
    EXPECT_TRUE(host.running(LinkTimer::TimeOut));
    EXPECT_TRUE(engine.MBBusy());

    engine.setMBMode(modeMaster); // same mode: only the busy rule applies
    EXPECT_FALSE(engine.MBBusy());
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 1u);

    engine.setMBMode(modeSlave);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 0u);
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForCommand);
    EXPECT_TRUE(engine.MBBusy());
    EXPECT_FALSE(host.running(LinkTimer::TimeOut));
    EXPECT_EQ(engine.caption(), "MB Slave v2015-01-29");
    const auto before = host.written.size();
    host.advance(engine, 5000);
    EXPECT_EQ(host.written.size(), before); // no master retry from a responder

    engine.setMBMode(modeString);
    EXPECT_EQ(engine.MBStatusNow(), stnReady);
    EXPECT_TRUE(engine.MBBusy());
    engine.setMBMode(modeASCIIMaster);
    EXPECT_FALSE(engine.MBBusy());
    feed(engine, encode(frame({0x81, 0, 0})));
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 0u); // no receiver
    engine.portClosing();
    engine.setMBMode(modeMaster);
    EXPECT_TRUE(engine.MBBusy());
}

} // namespace
} // namespace mb::test
