// The receive thread over real pseudo-terminals: every byte reaches the GUI thread in order, closing
// never deadlocks (also while bytes stream in), and a vanished far side or a failing wait is reported
// once as a loss.
#include "link/commthread.h"
#include "link/serialport_posix.h"
#include "processcpu.h"
#include "ptypair.h"
#include "waitfor.h"

#include <QApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

using mb::port::SerialPort;

using vx::test::waitUntil;

TEST(TCommThread, DeliversEveryByteInOrderOnTheGuiThread) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), {}, nullptr));
    std::vector<std::uint8_t> got;
    bool wrongThread = false;
    TCommThread t(port);
    t.connectCallbacks(
        [&](std::span<const std::uint8_t> b) {
            wrongThread |= QThread::currentThread() != qApp->thread();
            got.insert(got.end(), b.begin(), b.end());
        },
        [](int) {});
    t.start();
    std::vector<std::uint8_t> sent;
    for (int i = 0; i < 20000; ++i)
        sent.push_back(static_cast<std::uint8_t>(i * 31 + i / 256));
    std::thread writer([&] {
        for (std::size_t k = 0; k < sent.size(); k += 700)
            pty.write(
                std::vector<std::uint8_t>(sent.begin() + k, sent.begin() + std::min(sent.size(), k + 700)));
    });
    ASSERT_WAIT(got.size() >= sent.size(), 10000);
    writer.join();
    EXPECT_EQ(got, sent);
    EXPECT_FALSE(wrongThread);
    t.stop();
    EXPECT_TRUE(t.isFinished());
}

TEST(TCommThread, ClosingWhileBytesStreamInNeverDeadlocks) {
    // A watchdog turns a deadlock into a failure instead of a hung test run.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 600 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!done) {
            std::fprintf(stderr, "deadlock while closing the receive thread\n");
            std::abort();
        }
    });
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    std::atomic<bool> streaming{true};
    std::atomic<int> opened{0};
    std::thread writer([&] {
        const std::vector<std::uint8_t> chunk(64, 0x5A);
        while (streaming) {
            if (opened.load() == 0 || ::write(pty.masterFd(), chunk.data(), chunk.size()) < 0)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (int round = 0; round < 500; ++round) {
        SerialPort port;
        ASSERT_TRUE(port.open(pty.slavePath(), {}, nullptr));
        opened = 1;
        std::size_t received = 0;
        int handedOverAfterDisconnect = 0;
        bool disconnected = false;
        auto t = std::make_unique<TCommThread>(port);
        t->connectCallbacks(
            [&](std::span<const std::uint8_t> b) {
                received += b.size();
                handedOverAfterDisconnect += disconnected ? 1 : 0;
            },
            [](int) {});
        t->start();
        // Close from inside a hand-over on odd rounds (the GUI thread is then busy in the callback),
        // from the event loop on even rounds.
        if (round % 2) {
            t->connectCallbacks(
                [&](std::span<const std::uint8_t>) {
                    if (t) {
                        disconnected = true;
                        t->stop();
                    }
                },
                [](int) {});
            ASSERT_TRUE(waitUntil([&] { return t->isFinished(); }, 5000));
        } else {
            ASSERT_TRUE(waitUntil([&] { return received > 0; }, 5000));
            disconnected = true;
            t->stop();
        }
        opened = 0;
        t.reset();
        port.close();
        QCoreApplication::processEvents(); // queued hand-overs of the dead thread must do nothing
        EXPECT_EQ(handedOverAfterDisconnect, 0);
    }
    streaming = false;
    writer.join();
    done = true;
    watchdog.join();
}

TEST(TCommThread, FarSideClosingEndsTheThreadWithoutSpinning) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), {}, nullptr));
    int lost = 0;
    TCommThread t(port);
    t.connectCallbacks([](std::span<const std::uint8_t>) {}, [&](int) { ++lost; });
    t.start();
    pty.closeMaster();
    ASSERT_WAIT_EQ(lost, 1, 5000);
    ASSERT_WAIT(t.isFinished(), 5000);
    const double before = cpuSeconds();
    QTest::qWait(300);
    EXPECT_LT(cpuSeconds() - before, 0.05);
    EXPECT_EQ(lost, 1);
    t.stop();
}

// A process out of descriptors: a wait over two descriptors fails, and the thread's events cannot be
// made. Neither may leave a port that is silently deaf or a thread that cannot be stopped.
TEST(TCommThread, FailingWaitsAndEventsAreReported) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), {}, nullptr));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const auto limitTo = [&](rlim_t n) {
        rlimit l = saved;
        l.rlim_cur = n;
        return ::setrlimit(RLIMIT_NOFILE, &l) == 0;
    };
    {
        TCommThread t(port);
        ASSERT_EQ(t.setUpError(), 0);
        std::vector<std::uint8_t> got;
        int lost = 0, lostError = -1;
        t.connectCallbacks(
            [&](std::span<const std::uint8_t> b) { got.insert(got.end(), b.begin(), b.end()); },
            [&](int e) {
                ++lost;
                lostError = e;
            });
        t.start();
        ASSERT_TRUE(pty.write("a"));
        ASSERT_TRUE(waitUntil([&] { return got.size() == 1; }, 5000)); // running, past its set-up
        // Room for one descriptor: the thread's next poll over two fails with EINVAL.
        ASSERT_TRUE(limitTo(1));
        const bool written = pty.write("b");
        const bool ended = t.wait(QDeadlineTimer(5000));
        ASSERT_TRUE(limitTo(saved.rlim_cur));
        ASSERT_TRUE(written);
        ASSERT_TRUE(ended);
        ASSERT_TRUE(waitUntil([&] { return lost > 0; }, 5000));
        EXPECT_EQ(lost, 1);
        EXPECT_EQ(lostError, EINVAL);
        t.stop();
    }
    ASSERT_TRUE(limitTo(3)); // below every free descriptor number
    TCommThread t(port);
    ASSERT_TRUE(limitTo(saved.rlim_cur));
    EXPECT_EQ(t.setUpError(), EMFILE);
    t.stop(); // returns at once: there is nothing to stop
}
