#pragma once
// Waiting in tests that fails the test when time runs out. Qt's QTRY_* macros only return from the
// function on time-out, which inside GoogleTest passes silently.
//
//   ASSERT_WAIT(cond, ms)           fatal failure naming `cond` if it does not hold within ms
//   EXPECT_WAIT(cond, ms)           the same, non-fatal
//   ASSERT_WAIT_EQ(actual, want, ms) waits for equality, then reports both values if it never came
//   vx::test::waitUntil(pred, ms)    the bare wait (true when pred held), for helpers that return a value
#include <QCoreApplication>
#include <QEvent>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vx::test {

template <typename Pred> bool waitUntil(Pred&& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= end) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Short enough for loops of hundreds of rounds, long enough not to starve the threads under test.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

} // namespace vx::test

#define VX_WAIT_MESSAGE_(cond, ms) "waited " << (ms) << " ms for: " #cond
#define ASSERT_WAIT(cond, ms)                                                                                \
    ASSERT_TRUE(::vx::test::waitUntil([&] { return static_cast<bool>(cond); }, (ms)))                        \
        << VX_WAIT_MESSAGE_(cond, ms)
#define EXPECT_WAIT(cond, ms)                                                                                \
    EXPECT_TRUE(::vx::test::waitUntil([&] { return static_cast<bool>(cond); }, (ms)))                        \
        << VX_WAIT_MESSAGE_(cond, ms)
#define ASSERT_WAIT_EQ(actual, expected, ms)                                                                 \
    do {                                                                                                     \
        ::vx::test::waitUntil([&] { return (actual) == (expected); }, (ms));                                 \
        ASSERT_EQ(actual, expected) << VX_WAIT_MESSAGE_(actual == expected, ms);                             \
    } while (false)
