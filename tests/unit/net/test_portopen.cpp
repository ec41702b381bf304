// What a port name opens: the demo instrument (the simulator, started and ended with the port), a
// network address, a device; and where the demo's simulator is found.
#include "link/portopen.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

using namespace mb::port;
using namespace std::chrono_literals;

TEST(PortOpen, DemoNamesAndTheSimulatorBesideTheProgramOrOnPath) {
    EXPECT_EQ(demoVariant(demoName('V')), 'V');
    EXPECT_EQ(demoVariant(demoName('M')), 'M');
    EXPECT_EQ(demoVariant("demo://X"), 0);
    EXPECT_FALSE(isDemoName("/dev/ttyS0"));
    EXPECT_EQ(demoText(demoName('M')), "Demo instrument (simulated), VX2207 M");

    const std::string dir = std::filesystem::path(VX2207_SIM).parent_path();
    EXPECT_EQ(findSimulator(dir, nullptr), VX2207_SIM);
    EXPECT_EQ(findSimulator("/nonexistent", ("/nonexistent:" + dir).c_str()), VX2207_SIM);
    EXPECT_EQ(findSimulator("/nonexistent", "/usr/share:"), "");
}

TEST(PortOpen, EachKindOfNameOpensOrSaysWhy) {
    OpenOptions options;
    options.simulator = VX2207_SIM;
    OpenError err;
    auto demo = openChannel(demoName('M'), LineSettings{}, options, &err);
    ASSERT_TRUE(demo) << err.reason;
    const pid_t sim = static_cast<DemoChannel*>(demo.get())->simulatorPid();
    EXPECT_EQ(::kill(sim, 0), 0);
    demo.reset(); // closing the port ends the simulator
    EXPECT_NE(::kill(sim, 0), 0);

    struct Row {
        std::string name, simulator, reason;
    } rows[] = {
        {demoName('V'), "", "vx2207-sim is not installed"},
        {"tcp://nowhere", VX2207_SIM, "is no network address"},
        {"/dev/vx-no-such-port", VX2207_SIM, "is gone"},
    };
    for (const Row& r : rows) {
        options.simulator = r.simulator;
        EXPECT_FALSE(openChannel(r.name, LineSettings{}, options, &err));
        EXPECT_NE(err.reason.find(r.reason), std::string::npos) << err.reason;
    }
}

TEST(PortOpen, RecentAddressesAndTheOfferedEntries) {
    std::vector<std::string> recent;
    for (const char* name : {"tcp://a:1", "/dev/ttyS0", "rfc2217://b:2", "tcp://a:1", "tcp://bad"})
        recent = rememberAddress(recent, name);
    EXPECT_EQ(recent, (std::vector<std::string>{"tcp://a:1", "rfc2217://b:2"}));
    for (int i = 0; i < 20; ++i)
        recent = rememberAddress(recent, "tcp://h:" + std::to_string(100 + i));
    EXPECT_EQ(recent.size(), kMaxRecentAddresses);
    EXPECT_EQ(recent.front(), "tcp://h:119");
    EXPECT_EQ(splitAddresses(joinAddresses(recent)), recent);
    EXPECT_EQ(splitAddresses("  tcp://x:1 junk tcp://x:1 demo://V rfc2217://y:2 "),
              (std::vector<std::string>{"tcp://x:1", "rfc2217://y:2"}));

    const auto entries = offeredPorts({"tcp://x:1"}, true);
    std::vector<std::string> shown;
    for (const PortEntry& e : entries) {
        shown.push_back(shortName(e.info));
        EXPECT_TRUE(e.usable());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"Demo instrument (simulated), VX2207 V",
                                               "Demo instrument (simulated), VX2207 M", "tcp://x:1"}));
    EXPECT_EQ(offeredPorts({}, false).size(), 0u); // no simulator installed: no demo
}
