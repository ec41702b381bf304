#include "fakehost.h"

#include <gtest/gtest.h>

namespace mb::test {
namespace {

class Master : public ::testing::Test {
protected:
    void SetUp() override {
        engine.OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) {
            log.push_back("end " + t);
            ends.push_back(s);
        };
        engine.OnMBStatusNowChanged = [this](TMBStatusNow, const std::string& t) { log.push_back(t); };
        engine.OnMBBusyChanged = [this](bool b) { log.push_back(b ? "busy" : "idle"); };
    }
    void open() {
        engine.portOpening();
        engine.portOpened();
        log.clear();
    }
    std::vector<std::uint8_t> reply(std::uint8_t status, std::vector<std::uint8_t> data = {}) {
        std::vector<std::uint8_t> f = {static_cast<std::uint8_t>(0x80 | engine.MBMasterAddressToSlave()), 0,
                                       status};
        f.insert(f.end(), data.begin(), data.end());
        return encode(frame(f));
    }
    FakeHost host;
    LinkEngine engine{host};
    std::vector<std::string> log;
    std::vector<TMBStatus> ends;
};

TEST_F(Master, DefaultsAndClampingPropertyWrites) {
    EXPECT_EQ(engine.MBStatusNow(), stnPortError);
    EXPECT_EQ(engine.MBStatusNowString(), "Port Error");
    EXPECT_EQ(engine.MBStatusString(), "OK");
    EXPECT_TRUE(engine.MBBusy());
    EXPECT_EQ(engine.MBMasterAddressToSlave(), 1);
    EXPECT_EQ(engine.MBMasterMaxTryNumber(), 5);
    engine.setMBMasterMaxTryNumber(0);
    EXPECT_EQ(engine.MBMasterMaxTryNumber(), 1);
    engine.setMBMasterMaxTryNumber(9);
    EXPECT_EQ(engine.MBMasterMaxTryNumber(), 5);
    engine.setMBMasterAddressToSlave(20);
    EXPECT_EQ(engine.MBMasterAddressToSlave(), 15);
    engine.setMBMode(modeASCIIMaster);
    engine.setMBMasterAddressToSlave(200);
    EXPECT_EQ(engine.MBMasterAddressToSlave(), 200);
}

TEST_F(Master, LineTimeRoundsHalvesToEven) {
    EXPECT_EQ(LinkEngine::lineTimeMs(40, 115200), 9u);
    EXPECT_EQ(LinkEngine::lineTimeMs(100, 9600), 220u);
    // 1 byte at 2400 baud: 6 * 8.333.. = 50 -> 51; 0 bytes at 4000-equivalent... use 19200: 5*1.0417=5.2 -> 6
    // Long frames at slow rates do not fit 16 bits.
    EXPECT_EQ(LinkEngine::lineTimeMs(2043, 75), 546134u);
    // At 128000 baud a frame byte takes 0.15625 ms: 16 bytes are 2.5 ms, 48 bytes 7.5 ms.
    EXPECT_EQ(LinkEngine::lineTimeMs(11, 128000), 3u);
    EXPECT_EQ(LinkEngine::lineTimeMs(43, 128000), 9u);
    EXPECT_EQ(LinkEngine::lineTimeMs(15, 128000), 4u); // 3.125
}

TEST_F(Master, SendOnAClosedPortEndsAtOnceWithClosedPort) {
    engine.MBMasterSend(0);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], stClosedPort);
    EXPECT_EQ(engine.MBStatusString(), "Closed Port");
    EXPECT_TRUE(engine.MBBusy());
    EXPECT_TRUE(host.written.empty());
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 0u);
}

TEST_F(Master, RequestIsFramedAndTimedAndAReplyEndsItInOrder) {
    open();
    engine.setMBMasterAddressToSlave(2);
    engine.setMBMasterCommandToSlave(1);
    engine.MBMasterSend(0);
    const std::vector<std::uint8_t> req = decodeChars(host.written);
    ASSERT_EQ(host.written.size(), 10u);
    EXPECT_EQ(host.writes, 5); // one write per frame byte
    EXPECT_EQ(host.sends, 1);  // and the host is told once the frame is complete
    EXPECT_EQ(host.written[0], 0x02);
    EXPECT_EQ(host.written[1], 0xC0);
    EXPECT_EQ(host.written[9] & 0xF0, 0x60);
    EXPECT_EQ(req, frame({0x02, 0x00, 0x01}));
    EXPECT_EQ(host.txFlashes, 5);
    EXPECT_EQ(engine.MBCalculatedTimeOfSending(), LinkEngine::lineTimeMs(0, 115200));
    EXPECT_EQ(host.interval[FakeHost::idx(LinkTimer::TimeOut)], engine.MBCalculatedTimeOfSending() + 1000);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 1u);
    EXPECT_EQ(engine.MBMasterTryNumber(), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"busy", "Sending", "Waiting For Answer"}));

    log.clear();
    engine.setMBMasterQueryMode(true);
    feed(engine, reply(0, {0x34, 0x12}));
    EXPECT_EQ(log, (std::vector<std::string>{"Receiving", "Ready", "idle", "end OK"}));
    EXPECT_FALSE(host.running(LinkTimer::TimeOut));
    EXPECT_EQ(engine.MBRXGetWord(), 0x1234);
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 1u);
    EXPECT_EQ(engine.framesThisSecond(), 1u);
    EXPECT_EQ(host.rxFlashes, 1);
    // The accumulator keeps the reply until the next request.
    EXPECT_GT(engine.MBNumberOfReceivedBytes(), 0);

    host.written.clear();
    engine.MBMasterSend(0);
    EXPECT_EQ(decodeChars(host.written)[0], 0x42); // query mode bit
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0);

    // 115200 baud and 40 data bytes: a 1009 ms interval.
    engine.MBClearTXDataBuffer();
    for (int k = 0; k < 40; ++k)
        engine.MBTXPutByte(static_cast<std::uint8_t>(k));
    engine.MBMasterSend(0);
    EXPECT_EQ(host.interval[FakeHost::idx(LinkTimer::TimeOut)], 1009u);
}

TEST_F(Master, BroadcastEndsWithoutWaiting) {
    open();
    engine.setMBMasterAddressToSlave(0);
    engine.MBMasterSend(0);
    EXPECT_EQ(log, (std::vector<std::string>{"busy", "Sending", "Ready", "idle", "end OK"}));
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 1u);
    EXPECT_FALSE(host.running(LinkTimer::TimeOut));
    EXPECT_EQ(host.written.size(), 10u);
}

TEST_F(Master, StatusByteAbove128IsASlaveError) {
    open();
    engine.MBMasterSend(0);
    feed(engine, reply(128));
    EXPECT_EQ(ends.back(), stOK);
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 1u);
    engine.MBMasterSend(0);
    feed(engine, reply(129, {7}));
    EXPECT_EQ(ends.back(), stSlaveError);
    EXPECT_EQ(engine.MBStatusString(), "Slave Error: #129");
    EXPECT_EQ(host.shownStatus, "Slave Error: #129");
    EXPECT_EQ(engine.lastStatusLine(), "Last status: Slave Error: #129");
    EXPECT_EQ(engine.statusLamp(), LampColour::Orange);
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 1u);
    EXPECT_EQ(engine.MBRXGetByte(), 7); // the data is still delivered
    EXPECT_FALSE(engine.MBBusy());
}

TEST_F(Master, SilentInstrumentIsAskedMaxTryTimesThenTimesOut) {
    open();
    engine.setMBMasterMaxTryNumber(3);
    engine.MBMasterSend(0);
    const unsigned interval = host.interval[FakeHost::idx(LinkTimer::TimeOut)];
    const std::size_t oneRequest = host.written.size();
    host.advance(engine, interval - 1);
    EXPECT_EQ(host.written.size(), oneRequest);
    host.advance(engine, 1);
    EXPECT_EQ(host.written.size(), 2 * oneRequest);
    EXPECT_EQ(engine.MBMasterTryNumber(), 2);
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);
    host.advance(engine, interval);
    EXPECT_EQ(engine.MBMasterTryNumber(), 3);
    EXPECT_EQ(host.attempt, 3);
    EXPECT_EQ(engine.MBMasterTryNumberMax(), 3);
    EXPECT_TRUE(ends.empty());
    log.clear();
    host.advance(engine, interval);
    EXPECT_EQ(host.written.size(), 3 * oneRequest);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 1u);
    EXPECT_EQ(log, (std::vector<std::string>{"Time Out", "idle", "end Time Out"}));

    // A late reply is still accepted and ends the transaction a second time, with OK.
    feed(engine, reply(0));
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[1], stOK);
}

TEST_F(Master, FramesFailingTheCheckAreCountedAndNoiseIsNot) {
    open();
    engine.MBMasterSend(0);
    auto bad = reply(0, {1, 2, 3});
    bad[bad.size() - 3] ^= 0x01; // a CRC character
    // End characters with no frame begun.
    const std::vector<std::uint8_t> lone = {0x60, 0x60};
    feed(engine, lone);
    EXPECT_EQ(engine.MBBadFrames(), 0u);
    feed(engine, bad);
    EXPECT_EQ(engine.MBBadFrames(), 1u);
    EXPECT_TRUE(ends.empty());
    feed(engine, reply(0));
    EXPECT_EQ(engine.MBBadFrames(), 1u);
    ASSERT_EQ(ends.size(), 1u);
}

TEST_F(Master, RetryResendsWithoutResettingTheAccumulator) {
    open();
    engine.MBMasterSend(0);
    auto r = reply(0);
    feed(engine, {r.begin(), r.begin() + 4}); // half a reply
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 2);
    host.advance(engine, 2000);
    EXPECT_EQ(engine.MBMasterTryNumber(), 2);
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 2);
    feed(engine, {r.begin() + 4, r.end()});
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], stOK);
}

TEST_F(Master, DelayedSendRestartsAndANewSendReplacesAWaitingTransaction) {
    open();
    engine.MBMasterSend(50);
    host.advance(engine, 40);
    engine.MBMasterSend(50); // restarts the delay
    host.advance(engine, 40);
    EXPECT_TRUE(host.written.empty());
    host.advance(engine, 10);
    EXPECT_FALSE(host.written.empty());
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);

    host.advance(engine, 1500); // second attempt under way
    EXPECT_EQ(engine.MBMasterTryNumber(), 2);
    engine.MBMasterSend(0);
    EXPECT_EQ(engine.MBMasterTryNumber(), 1);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 2u);
    EXPECT_TRUE(ends.empty());
}

TEST_F(Master, ClosingEndsOnlyATransactionUnderWay) {
    open();
    engine.portClosing();
    EXPECT_TRUE(ends.empty());
    EXPECT_EQ(engine.MBStatusString(), "Closed Port");
    EXPECT_EQ(engine.lastStatusLine(), "Last status: Closed Port");
    EXPECT_EQ(engine.statusLamp(), LampColour::Red);

    open();
    EXPECT_EQ(engine.MBStatusNow(), stnReady);
    EXPECT_FALSE(engine.MBBusy());
    EXPECT_EQ(engine.MBStatus(), stOK);
    engine.MBMasterSend(0);
    log.clear();
    engine.portClosing();
    EXPECT_EQ(log, (std::vector<std::string>{"Port Error", "end Closed Port"}));
    EXPECT_FALSE(host.running(LinkTimer::TimeOut));
    EXPECT_TRUE(engine.MBBusy());
    EXPECT_FALSE(engine.MBPortOpen());
    EXPECT_EQ(engine.MBMasterTryNumberMax(), 0);

    // A failed open runs the same closing sequence.
    engine.portOpening();
    engine.portOpenFailed();
    EXPECT_FALSE(engine.MBPortOpen());
    EXPECT_EQ(engine.MBStatusNow(), stnPortError);
}

TEST_F(Master, WriteFailuresEndTheTransactionWithClosedPort) {
    open();
    host.portWorks = false;
    engine.MBMasterSend(0);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], stClosedPort);
    EXPECT_EQ(engine.MBStatusNow(), stnPortError);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 0u);

    // A retry that cannot be written ends the transaction too, instead of leaving it hanging.
    open();
    host.portWorks = true;
    engine.MBMasterSend(0);
    host.portWorks = false;
    host.advance(engine, 2000);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(ends[1], stClosedPort);
    EXPECT_TRUE(engine.MBBusy());
    EXPECT_FALSE(host.running(LinkTimer::TimeOut));
}

TEST_F(Master, HandlerMayStartTheNextTransactionFromTheEndEvent) {
    open();
    int sent = 0;
    engine.OnMBMasterEndOfEvent = [&](TMBStatus s, const std::string&) {
        EXPECT_EQ(s, stOK);
        if (++sent < 3) {
            engine.MBClearTXDataBuffer();
            engine.MBTXPutByte(1);
            engine.MBMasterSend(50);
        }
    };
    engine.MBMasterSend(0);
    for (int k = 0; k < 3; ++k) {
        feed(engine, reply(0));
        host.advance(engine, 50);
    }
    EXPECT_EQ(sent, 3);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 3u);

    // Started at once from the handler, the next request is not answered by what followed the reply in
    // the same hand-over: those bytes arrived before it went out. A reply arriving after it counts,
    // also a late one after the time-out.
    std::vector<TMBStatus> seen;
    engine.OnMBMasterEndOfEvent = [&](TMBStatus s, const std::string&) {
        seen.push_back(s);
        if (seen.size() == 1) engine.MBMasterSend(0);
    };
    engine.MBMasterSend(0);
    auto twice = reply(0, {1});
    const auto again = reply(0, {2});
    twice.insert(twice.end(), again.begin(), again.end());
    feed(engine, twice);
    EXPECT_EQ(seen, std::vector<TMBStatus>{stOK});
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);
    EXPECT_EQ(engine.MBNumberOfReceivedBytes(), 0);
    host.advance(engine, 10000);
    EXPECT_EQ(seen, (std::vector<TMBStatus>{stOK, stTimeOut}));
    feed(engine, again);
    EXPECT_EQ(seen, (std::vector<TMBStatus>{stOK, stTimeOut, stOK}));
    EXPECT_EQ(engine.MBRXGetByte(), 2);
}

} // namespace
} // namespace mb::test
