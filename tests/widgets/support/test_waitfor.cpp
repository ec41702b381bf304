// The tests' waiting helper must fail the test when time runs out and return as soon as its condition
// holds while serving the event loop.
#include "waitfor.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest-spi.h>

namespace {
int value = 1;
}

TEST(WaitFor, FailsTheTestNamingWhatItWaitedFor) {
    EXPECT_FATAL_FAILURE(ASSERT_WAIT(false, 50), "waited 50 ms for: false");
    EXPECT_NONFATAL_FAILURE(EXPECT_WAIT(value == 3, 20), "waited 20 ms for: value == 3");
    EXPECT_FATAL_FAILURE(ASSERT_WAIT_EQ(value, 2, 20), "Which is: 1");
}

TEST(WaitFor, ReturnsOnceTheConditionHoldsServingEvents) {
    bool fired = false;
    QTimer::singleShot(30, [&] { fired = true; });
    QElapsedTimer t;
    t.start();
    ASSERT_WAIT(fired, 5000);
    EXPECT_LT(t.elapsed(), 2000);
    value = 1;
    QTimer::singleShot(10, [] { value = 2; });
    ASSERT_WAIT_EQ(value, 2, 5000);
}
