#include "fakehost.h"

#include <gtest/gtest.h>

namespace mb::test {
namespace {

void answerOnce(LinkEngine& e) {
    e.MBMasterSend(0);
    feed(e, encode(frame({0x81, 0, 0})));
}

TEST(Statistics, SpeedIsMeasuredPerSecondWhileOpen) {
    FakeHost host;
    LinkEngine engine{host};
    EXPECT_TRUE(engine.statisticsTick()); // the deferred set-up computes nothing
    EXPECT_EQ(engine.speedText(), "0 frames / sec [0]");
    engine.portOpening();
    engine.portOpened();
    EXPECT_TRUE(host.running(LinkTimer::Statistics));
    for (int k = 0; k < 1500; ++k)
        answerOnce(engine);
    EXPECT_FALSE(engine.statisticsTick());
    EXPECT_EQ(engine.MBSpeed(), 1500u);
    EXPECT_EQ(engine.MBSpeedMax(), 1500u);
    EXPECT_EQ(engine.speedText(), "1.5k frames / sec [0-1.5k]");

    engine.resetStatistics();
    EXPECT_EQ(engine.speedText(), "1.5k frames / sec [1.5k]");
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 0u);
    EXPECT_EQ(engine.MBNumberOfTxFrames(), 0u);
    EXPECT_EQ(engine.statusLamp(), LampColour::Neutral);
    for (int k = 0; k < 12; ++k)
        answerOnce(engine);
    engine.timerExpired(LinkTimer::Statistics);
    EXPECT_EQ(engine.speedText(), "12 frames / sec [12-1.5k]");

    engine.portClosing();
    engine.timerExpired(LinkTimer::Statistics);
    EXPECT_EQ(engine.MBSpeed(), 0u);
    EXPECT_EQ(engine.MBSpeedMax(), 1500u); // closed seconds do not count
}

TEST(Statistics, ResetDuringATransactionLeavesItRunning) {
    FakeHost host;
    LinkEngine engine{host};
    engine.portOpening();
    engine.setMBMasterMaxTryNumber(3);
    engine.MBMasterSend(0);
    host.advance(engine, 1100);
    EXPECT_EQ(engine.attemptShown(), 2);
    engine.resetStatistics();
    EXPECT_EQ(engine.attemptShown(), 0);
    EXPECT_EQ(engine.MBMasterTryNumberMax(), 0);
    EXPECT_TRUE(host.running(LinkTimer::TimeOut));
    EXPECT_EQ(engine.MBStatusNow(), stnWaitingForAnswer);
    feed(engine, encode(frame({0x81, 0, 0})));
    EXPECT_EQ(engine.MBNumberOfRxFrames(), 1u);
}

TEST(Statistics, LabelsCaptionsAndRates) {
    FakeHost host;
    LinkEngine engine{host};
    EXPECT_EQ(engine.caption(), "MB Master v2015-01-29");
    EXPECT_EQ(engine.txCounterText(), "0 frames");
    EXPECT_EQ(engine.counterText(1234567), "1 234 567 frames");
    engine.setMBMode(modeByte);
    EXPECT_EQ(engine.counterText(12), "12 bytes");
    EXPECT_EQ(engine.caption(), "MB Byte Mode v2015-01-29");
    EXPECT_FALSE(engine.attemptIndicatorVisible());
    engine.setMBMode(modeString);
    EXPECT_EQ(engine.counterText(2), "2 strings");

    EXPECT_EQ(engine.MBBaud(), baud115200);
    EXPECT_EQ(engine.bitsPerSecondText(), "115 200 bits / second");
    engine.setMBBaud(baud000075);
    EXPECT_EQ(engine.baudRateValue(), 75u);
    engine.setMBBaud(static_cast<TMBBaud>(40));
    EXPECT_EQ(engine.baudRateValue(), 9600u);
    EXPECT_EQ(engine.MBBaud(), baud009600);
    EXPECT_EQ(baudFromRate(12345), baud009600);
    EXPECT_EQ(baudText(baud921600), "921600 baud");
}

} // namespace
} // namespace mb::test
