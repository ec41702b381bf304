// The serial layer over real pseudo-terminals: line set-up, exclusivity, purge, writes, device loss.
#include "link/serialport_posix.h"
#include "ptypair.h"

#include <asm/termbits.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

using namespace mb::port;

namespace {

termios2 lineOf(int fd) {
    termios2 t{};
    EXPECT_EQ(::ioctl(fd, TCGETS2, &t), 0);
    return t;
}

std::vector<std::uint8_t> readAll(ByteChannel& ch, std::size_t count) {
    std::vector<std::uint8_t> out;
    std::uint8_t buf[256];
    for (int i = 0; i < 200 && out.size() < count; ++i) {
        pollfd p{ch.fd(), POLLIN, 0};
        ::poll(&p, 1, 10);
        const ReadResult r = ch.read(buf);
        out.insert(out.end(), buf, buf + r.count);
        if (r.lost) break;
    }
    return out;
}

} // namespace

TEST(SerialPort, OpensRawEightNoneOneAtEveryRate) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    for (std::uint32_t rate : {75u, 134u, 7200u, 14400u, 115200u, 128000u, 921600u}) {
        SerialPort port;
        OpenError err;
        ASSERT_TRUE(port.open(pty.slavePath(), {rate}, &err)) << rate << ": " << err.reason;
        const termios2 t = lineOf(port.fd());
        EXPECT_EQ(t.c_ospeed, rate);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<unsigned>(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP | INPCK), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
    }
}

TEST(SerialPort, BinaryBytesPassUnchangedBothWays) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), {}, nullptr));
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(port.write(all));
    EXPECT_EQ(pty.read(all.size()), all);
    ASSERT_TRUE(pty.write(all));
    EXPECT_EQ(readAll(port, all.size()), all);
}

TEST(SerialPort, ExclusiveAlsoThroughAnotherNameAndProbeRefusedWhileHeld) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const std::string alias = testing::TempDir() + "vx_serial_alias_" + std::to_string(::getpid());
    std::filesystem::remove(alias);
    std::filesystem::create_symlink(pty.slavePath(), alias);

    SerialPort first;
    ASSERT_TRUE(first.open(pty.slavePath(), {}, nullptr));
    for (const std::string& name : {pty.slavePath(), alias}) {
        SerialPort second;
        OpenError err;
        EXPECT_FALSE(second.open(name, {}, &err));
        EXPECT_EQ(err.kind, OpenFailure::Busy);
        EXPECT_NE(err.reason.find("busy"), std::string::npos);
        EXPECT_FALSE(probePort(name));
    }
    first.close();
    EXPECT_TRUE(probePort(alias));
    std::filesystem::remove(alias);
}

TEST(SerialPort, ProbeAppliesNoSettings) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    // Another program uses the line at 4800 with echo, without locking it.
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    termios2 t = lineOf(other);
    t.c_cflag = (t.c_cflag & ~CBAUD) | BOTHER;
    t.c_ospeed = 4800;
    t.c_lflag |= ECHO;
    ASSERT_EQ(::ioctl(other, TCSETS2, &t), 0);
    const termios2 before = lineOf(other);
    EXPECT_TRUE(probePort(pty.slavePath()));
    const termios2 after = lineOf(other);
    EXPECT_EQ(after.c_ospeed, before.c_ospeed);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    ::close(other);
}

TEST(SerialPort, OpenAndClosePurgeTheQueues) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    {
        // Bytes that reached the line before the link opened it must not reach the decoder.
        const int early = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(early, 0);
        termios2 t = lineOf(early);
        t.c_lflag &= ~(ICANON | ECHO);
        ASSERT_EQ(::ioctl(early, TCSETS2, &t), 0);
        ASSERT_TRUE(pty.write("stale"));
        SerialPort port;
        ASSERT_TRUE(port.open(pty.slavePath(), {}, nullptr));
        ::close(early);
        std::uint8_t buf[16];
        EXPECT_EQ(port.read(buf).count, 0u);
        ASSERT_TRUE(pty.write("x"));
        EXPECT_EQ(readAll(port, 1), std::vector<std::uint8_t>{'x'});

        // Closing discards what has not left yet rather than waiting for it to drain (a real tty
        // waits up to 30 s): of what the far side had not read, only what it had already taken in
        // (a pseudo-terminal takes 4 KiB) still arrives.
        const std::vector<std::uint8_t> unsent(32768, 'u');
        port.write(unsent);
        const std::size_t queued = unsent.size() - port.pendingOutput();
        ASSERT_GT(queued, 6144u);
        port.close();
        EXPECT_LE(pty.read(queued, 1000).size(), 4096u);
    }
}

TEST(SerialPort, FailuresAreWordedForAnEngineer) {
    SerialPort port;
    OpenError err;
    EXPECT_FALSE(port.open("/dev/vx-no-such-port", {}, &err));
    EXPECT_EQ(err.kind, OpenFailure::Gone);
    EXPECT_EQ(port.fd(), -1);
    EXPECT_NE(err.reason.find("/dev/vx-no-such-port"), std::string::npos);
    EXPECT_FALSE(probePort("/dev/vx-no-such-port"));

    EXPECT_EQ(describeOpenError("/dev/ttyUSB0", EACCES).kind, OpenFailure::NoPermission);
    EXPECT_NE(describeOpenError("/dev/ttyUSB0", EACCES).reason.find("dialout"), std::string::npos);
    EXPECT_EQ(describeOpenError("/dev/ttyUSB0", ENODEV).kind, OpenFailure::Gone);

    // A file that is not a terminal is refused, not driven.
    EXPECT_FALSE(port.open("/dev/null", {}, &err));
    EXPECT_EQ(err.kind, OpenFailure::Other);
    EXPECT_NE(err.reason.find("not a serial port"), std::string::npos);
}

TEST(SerialPort, FarSideClosingIsALoss) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath(), {}, nullptr));
    pty.closeMaster();
    pollfd p{port.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
    std::uint8_t buf[16];
    EXPECT_TRUE(port.read(buf).lost);
}

TEST(FdChannel, WritesNeverBlockAndKeepOrder) {
    FdChannel a, b;
    ASSERT_TRUE(makeSocketPair(a, b));
    // Far more than a socket buffer holds: the rest is kept, in order, and flushed as the peer reads.
    std::vector<std::uint8_t> big(1 << 19);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(a.write(big));
    EXPECT_GT(a.pendingOutput(), 0u);
    ASSERT_TRUE(a.write(std::vector<std::uint8_t>{1, 2, 3}));
    std::vector<std::uint8_t> got;
    std::uint8_t buf[65536];
    while (got.size() < big.size() + 3) {
        a.flush();
        const ReadResult r = b.read(buf);
        ASSERT_FALSE(r.lost);
        got.insert(got.end(), buf, buf + r.count);
    }
    EXPECT_EQ(a.pendingOutput(), 0u);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), got.begin()));
    EXPECT_EQ(std::vector<std::uint8_t>(got.end() - 3, got.end()), (std::vector<std::uint8_t>{1, 2, 3}));

    b.close();
    EXPECT_TRUE(a.read(buf).lost);
    a.close();
    EXPECT_FALSE(a.write(std::vector<std::uint8_t>{1}));
}

TEST(SerialPort, ADriverRefusingLowLatencyOpensAndClosesAsBefore) {
    PtyPair pty; // a pseudo-terminal has no serial driver settings: it refuses the request
    ASSERT_TRUE(pty.ok());
    SerialPort port;
    for (int round = 0; round < 2; ++round) {
        OpenError err;
        ASSERT_TRUE(port.open(pty.slavePath(), {}, &err)) << err.reason;
        EXPECT_FALSE(port.lowLatencySet());
        ASSERT_TRUE(port.write(std::vector<std::uint8_t>{0x42}));
        EXPECT_EQ(pty.read(1), std::vector<std::uint8_t>{0x42});
        port.close();
        EXPECT_EQ(port.fd(), -1);
        EXPECT_FALSE(port.lowLatencySet());
    }
}
