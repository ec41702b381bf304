// Network ports without a server program: addresses, the connect's failures and their reasons, and a
// dropped connection read as a lost device.
#include "link/netchannel.h"
#include "listener.h"

#include <gtest/gtest.h>

#include "common/pictureformat.h"

#include <clocale>
#include <cstring>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace mb::port;
using namespace std::chrono_literals;

TEST(NetAddress, ParsesBothSchemesAndRefusesTheRest) {
    struct Row {
        const char* text;
        bool network, valid;
        NetKind kind = NetKind::Raw;
        const char* host = "";
        std::uint16_t port = 0;
    };
    const Row rows[] = {
        {"tcp://10.0.0.7:4001", true, true, NetKind::Raw, "10.0.0.7", 4001},
        {"rfc2217://box.plant:2217", true, true, NetKind::Rfc2217, "box.plant", 2217},
        {"tcp://[fe80::1]:23", true, true, NetKind::Raw, "fe80::1", 23},
        {"tcp://fe80::1:23", true, false},
        {"tcp://host", true, false},
        {"tcp://:4001", true, false},
        {"tcp://host:0", true, false},
        {"tcp://host:65536", true, false},
        {"tcp://host:40x1", true, false},
        {"rfc2217://a b:1", true, false},
        {"/dev/ttyUSB0", false, false},
        {"TCP://host:1", false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(isNetworkAddress(r.text), r.network);
        const auto a = parseNetAddress(r.text);
        ASSERT_EQ(a.has_value(), r.valid);
        if (!a) continue;
        EXPECT_EQ(a->kind, r.kind);
        EXPECT_EQ(a->host, r.host);
        EXPECT_EQ(a->port, r.port);
    }
}

TEST(NetChannel, FailsWithinItsBoundAndSaysWhy) {
    const Listener closed(false);
    Listener full;
    const int queued = connectTcp(full.address(), 1000ms, nullptr); // fills the backlog
    ASSERT_GE(queued, 0);
    Listener mute;                                   // takes the connection but never speaks Telnet
    const int cancelled = ::eventfd(1, EFD_CLOEXEC); // readable: the holder gave up
    struct Row {
        NetAddress address;
        const char* reason;
        int cancelFd = -1;
    } rows[] = {
        {closed.address(), "refused the connection"},
        {full.address(), "did not answer within 300 ms"},
        {mute.address(NetKind::Rfc2217), "is no RFC 2217 server"},
        {{NetKind::Raw, "no-such-host.invalid", 1}, "is unknown"},
        {full.address(), "was cancelled", cancelled},
        {mute.address(NetKind::Rfc2217), "was cancelled", cancelled},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.reason);
        NetChannel c;
        OpenError err;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(c.open(r.address, LineSettings{}, 300ms, &err, r.cancelFd));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
        EXPECT_NE(err.reason.find(r.reason), std::string::npos) << err.reason;
        EXPECT_EQ(c.fd(), -1);
    }
    ::close(queued);
    ::close(cancelled);
}

TEST(NetChannel, CarriesBytesAndReadsADroppedConnectionAsLoss) {
    Listener server;
    NetChannel c;
    OpenError err;
    ASSERT_TRUE(c.open(server.address(), LineSettings{}, 1000ms, &err)) << err.reason;
    const int peer = ::accept(server.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    const std::uint8_t frame[] = {':', '0', '1', 0xFF};
    ASSERT_TRUE(c.write(frame));
    std::uint8_t got[8] = {};
    ASSERT_EQ(::recv(peer, got, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::memcmp(got, frame, 4), 0);
    ::close(peer);
    ReadResult r;
    for (int i = 0; i < 100 && !r.lost; ++i) {
        r = c.read(got);
        if (!r.lost) ::usleep(10000);
    }
    EXPECT_TRUE(r.lost);
}

TEST(NetChannel, AProbeWaitsForALostServerWithoutBlocking) {
    const Listener closed(false);
    Listener open, full;
    const int queued = connectTcp(full.address(), 1000ms, nullptr);
    ASSERT_GE(queued, 0);
    ConnectProbe probe;
    EXPECT_EQ(probe.start(closed.address()), ConnectProbe::State::Failed);
    ConnectProbe::State s = probe.start(open.address());
    for (int i = 0; i < 100 && s == ConnectProbe::State::Pending; ++i, ::usleep(10000))
        s = probe.check();
    EXPECT_EQ(s, ConnectProbe::State::Accepted);
    EXPECT_EQ(probe.start(full.address()), ConnectProbe::State::Pending);
    ::close(queued);

    const std::chrono::milliseconds delays[] = {250ms, 500ms, 1000ms, 2000ms, 4000ms, 4000ms};
    for (unsigned n = 0; n < 6; ++n)
        EXPECT_EQ(reconnectDelay(n), delays[n]);
    EXPECT_EQ(reconnectDelay(1000), 4000ms);
}

TEST(NetChannel, RoundTripIsTheMeanSinceTheLastLookInTheDesktopsNumbers) {
    ASSERT_TRUE(std::setlocale(LC_ALL, "hu_HU.UTF-8"));
    vx::setDecimalSeparator(",");
    RoundTrip rt;
    const auto t0 = RoundTrip::Clock::now();
    EXPECT_FALSE(rt.take());
    rt.sent(t0);
    rt.replied(t0 + 3ms);
    rt.sent(t0 + 10ms);
    rt.failed(); // a time-out is no delay of the path
    rt.replied(t0 + 900ms);
    rt.sent(t0 + 20ms);
    rt.replied(t0 + 23800us);
    const auto mean = rt.take();
    ASSERT_TRUE(mean);
    EXPECT_EQ(roundTripText(*mean), "Round trip: 3,4 ms");
    EXPECT_FALSE(rt.take());
    vx::setDecimalSeparator(".");
    std::setlocale(LC_ALL, "C");
}
