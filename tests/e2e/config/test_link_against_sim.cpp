// The link component on its own, polling the simulated instrument through a lossy line.
#include "instrument/exchange.h"
#include "link/mb.h"
#include "sim/harness.h"

#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

TEST(LinkAgainstSim, EveryTransactionEndsExactlyOnceThroughCorruptedReplies) {
    vx::sim::SimProcess sim(VX2207_SIM, {"--corrupt", "0.1", "--seed", "11"});
    ASSERT_TRUE(sim.started());
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(sim.devicePath()));
    TMB mb;
    // A damaged reply is retried after the time-out, long enough that a sound reply is seldom late.
    mb.setMBMasterTimeOut(150);
    constexpr int kCycles = 300;
    int sent = 0, ended = 0, retried = 0, retries = 0, notOk = 0, lateEnds = 0;
    std::uint32_t lastEnded = 0;
    // A real event loop: a QTRY-style wait would serve the line only every 10 ms.
    QEventLoop loop;
    const auto send = [&] {
        mb.MBClearTXDataBuffer();
        mb.setMBMasterCommandToSlave(vx::instrument::kExchangeCommand);
        mb.MBTXPutBytes(vx::instrument::encodeRequest({}));
        ++sent;
        mb.MBMasterSend(1);
    };
    mb.OnMBMasterEndOfEvent = [&](mb::TMBStatus status, const std::string&) {
        // On a busy machine a sound reply can miss the time-out; after the retry's reply it ends its
        // transaction a second time, as a late reply does. It is no new transaction's end.
        if (mb.MBNumberOfTxFrames() == lastEnded) {
            ++lateEnds;
            EXPECT_EQ(status, mb::stOK);
            return;
        }
        lastEnded = mb.MBNumberOfTxFrames();
        ++ended;
        if (status != mb::stOK) ++notOk;
        if (mb.MBMasterTryNumber() > 1) ++retried;
        retries += mb.MBMasterTryNumber() - 1;
        if (sent < kCycles)
            send();
        else
            loop.quit();
    };
    ASSERT_TRUE(mb.MBOpenPort(QString::fromStdString(sim.devicePath())));
    send();
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    QTest::qWait(150); // a late reply to the last transaction has its time to come
    EXPECT_EQ(ended, kCycles);
    EXPECT_LE(lateEnds, retries); // a reply is late only when a retry went out before it came
    EXPECT_EQ(notOk, 0);          // five tries outlast a tenth of replies damaged
    EXPECT_GT(retried, 5);        // and the damage did happen
    EXPECT_EQ(mb.MBNumberOfTxFrames(), static_cast<std::uint32_t>(kCycles));
    EXPECT_EQ(mb.MBNumberOfRxFrames(), static_cast<std::uint32_t>(kCycles + lateEnds));
    mb.MBClosePort();
}
