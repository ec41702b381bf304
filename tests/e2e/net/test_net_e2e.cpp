// The simulator behind Debian's ser2net on the loopback address, polled through raw TCP and RFC 2217
// as an instrument behind a serial device server would be; and the simulator listening itself.
#include "instrument/codes.h"
#include "link/netchannel.h"
#include "ser2net.h"
#include "sim/harness.h"

#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <sys/ioctl.h>

using namespace vx::sim;
using namespace vx::instrument;
using namespace mb::port;
using namespace std::chrono_literals;

namespace {

struct Rig {
    SimProcess sim{VX2207_SIM, {"--firmware", "2014-10-06"}};
    Ser2net server;
    NetChannel channel;
    explicit Rig(NetKind kind) : server(sim.devicePath(), kind) {}

    // Connects at `baud` and polls once; the reason why not, or empty.
    std::string connect(std::uint32_t baud = 115200) {
        OpenError err;
        LineSettings line;
        line.baud = baud;
        if (!channel.open(*parseNetAddress(server.address()), line, kDefaultConnectBound, &err))
            return err.reason;
        Master m(channel);
        const Outcome o = m.exchange(Request{});
        return o.status == mb::stOK ? "" : "no good reply: " + o.text;
    }
};

// The rate the far end's tty runs at, as the server set it.
std::uint32_t ttyBaud(const std::string& device) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios2 t{};
    const bool ok = fd >= 0 && ::ioctl(fd, TCGETS2, &t) == 0;
    if (fd >= 0) ::close(fd);
    return ok ? t.c_ospeed : 0;
}

class ThroughSer2net : public ::testing::TestWithParam<NetKind> {};

} // namespace

TEST_P(ThroughSer2net, PollsWritesSettingsAndReconnectsAfterARestart) {
    Rig rig(GetParam());
    ASSERT_TRUE(rig.sim.started());
    ASSERT_TRUE(rig.server.start());
    ASSERT_EQ(rig.connect(), "");
    {
        Master m(rig.channel);
        Request q;
        q.CommandFlags = kCmdStoreSettings;
        q.ModbusAddress = 42;
        for (int i = 0; i < 20; ++i) {
            const Outcome o = m.exchange(q, 2000ms);
            ASSERT_EQ(o.status, mb::stOK) << i << ": " << o.text;
            EXPECT_EQ(o.reply.AcknowledgeFlags, kCmdStoreSettings);
            EXPECT_EQ(firmwareVersion(o.reply.FirmwareYear, o.reply.FirmwareMonth, o.reply.FirmwareDay),
                      20141006u);
        }
        EXPECT_EQ(m.exchange(Request{}).reply.ModbusAddress, 42);
    }
    // The server goes away: the connection reads as lost, and a new one after the restart polls again.
    rig.server.stop();
    std::uint8_t buf[64];
    ReadResult r;
    for (int i = 0; i < 200 && !r.lost; ++i, std::this_thread::sleep_for(10ms))
        r = rig.channel.read(buf);
    EXPECT_TRUE(r.lost);
    EXPECT_NE(rig.connect().find("refused"), std::string::npos);
    ASSERT_TRUE(rig.server.start());
    EXPECT_EQ(rig.connect(), "");
}

TEST(ThroughSer2netRfc2217, TheBaudRateReachesTheServersPort) {
    Rig rig(NetKind::Rfc2217);
    ASSERT_TRUE(rig.sim.started());
    ASSERT_TRUE(rig.server.start());
    for (std::uint32_t baud : {9600u, 57600u, 115200u}) {
        SCOPED_TRACE(baud);
        ASSERT_EQ(rig.connect(baud), "");
        EXPECT_EQ(rig.channel.serverBaud(), baud);
        EXPECT_EQ(ttyBaud(rig.sim.devicePath()), baud);
        rig.channel.close();
    }
}

TEST(SimOverTcp, TheSimulatorListensItselfAndTakesTheNextConnection) {
    SimProcess sim(VX2207_SIM, {"--tcp", "0"});
    ASSERT_TRUE(sim.started());
    const auto address = parseNetAddress(sim.devicePath());
    ASSERT_TRUE(address);
    for (int round = 0; round < 2; ++round) {
        NetChannel c;
        OpenError err;
        ASSERT_TRUE(c.open(*address, LineSettings{}, kDefaultConnectBound, &err)) << err.reason;
        Master m(c);
        EXPECT_EQ(m.exchange(Request{}).status, mb::stOK);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, ThroughSer2net, ::testing::Values(NetKind::Raw, NetKind::Rfc2217),
                         [](const auto& info) { return info.param == NetKind::Raw ? "Raw" : "Rfc2217"; });
