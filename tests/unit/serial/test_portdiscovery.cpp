// Port list order and the candidates offered through MB_EXTRA_PORTS.
#include "link/portdiscovery.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace mb::port;

TEST(PortDiscovery, NaturalOrderOfDevicePaths) {
    std::vector<std::string> v = {"/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyS2",
                                  "/dev/pts/3",  "/dev/ttyS1",   "/dev/pts/12"};
    std::sort(v.begin(), v.end(), naturalLess);
    EXPECT_EQ(v, (std::vector<std::string>{"/dev/pts/3", "/dev/pts/12", "/dev/ttyS1", "/dev/ttyS2",
                                           "/dev/ttyS10", "/dev/ttyUSB0"}));
    EXPECT_FALSE(naturalLess("/dev/ttyS1", "/dev/ttyS1"));
    EXPECT_TRUE(naturalLess("/dev/ttyS1", "/dev/ttyS01") != naturalLess("/dev/ttyS01", "/dev/ttyS1"));
}

TEST(PortDiscovery, HighestFirstThenTheOpenPort) {
    const std::vector<std::string> present = {"/dev/ttyS1", "/dev/ttyS3", "/dev/ttyS12"};
    auto probe = [&](const std::string& p) {
        return p != "/dev/ttyS3" && std::find(present.begin(), present.end(), p) != present.end();
    };
    // ttyS3 is held open by this component: the probe cannot open it, so it comes last.
    EXPECT_EQ(buildPortList({"/dev/ttyS1", "/dev/ttyS3", "/dev/ttyS12", "/dev/ttyS5", "/dev/ttyS1"}, probe,
                            "/dev/ttyS3"),
              (std::vector<std::string>{"/dev/ttyS12", "/dev/ttyS1", "/dev/ttyS3"}));
    EXPECT_TRUE(buildPortList({}, probe, "").empty());
}

TEST(PortDiscovery, ExtraPortsFromTheEnvironment) {
    ::setenv("MB_EXTRA_PORTS", "/tmp/vx-a::/tmp/vx-b:/tmp/vx-a", 1);
    const std::vector<std::string> c = candidatePorts();
    ::unsetenv("MB_EXTRA_PORTS");
    EXPECT_EQ(std::count(c.begin(), c.end(), "/tmp/vx-a"), 1);
    EXPECT_EQ(std::count(c.begin(), c.end(), "/tmp/vx-b"), 1);
    EXPECT_EQ(std::count(c.begin(), c.end(), ""), 0);
}
