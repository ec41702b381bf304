#include "link/precisetimer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(PreciseTimer, FiresOnceNeverEarlyAndStopsForGood) {
    TPreciseTimer t;
    QSignalSpy fired(&t, &TPreciseTimer::timeout);
    QElapsedTimer clock;
    clock.start();
    t.start(30);
    EXPECT_TRUE(t.isActive());
    ASSERT_TRUE(fired.wait(1000));
    EXPECT_GE(clock.nsecsElapsed(), 30'000'000);
    EXPECT_FALSE(t.isActive());
    QTest::qWait(60);
    EXPECT_EQ(fired.count(), 1); // one-shot

    // Stopped before it is due, or stopped when already due but not yet delivered: nothing fires.
    t.start(20);
    t.stop();
    t.start(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5)); // due, but not delivered: no events ran
    t.stop();
    QTest::qWait(60);
    EXPECT_EQ(fired.count(), 1);

    // A restart replaces the running interval.
    clock.restart();
    t.start(200);
    t.start(10);
    ASSERT_TRUE(fired.wait(1000));
    EXPECT_LT(clock.elapsed(), 150);
    QTest::qWait(250);
    EXPECT_EQ(fired.count(), 2);
}
