// Port list order and the candidates offered through MB_EXTRA_PORTS.
#include "link/portdiscovery.h"
#include "portat.h"

#include <algorithm>
#include <cerrno>
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

TEST(PortDiscovery, HighestFirstKeepsWhatCannotBeOpenedThenTheHeldPort) {
    // ttyS3 is held open by this component (a probe cannot open it), ttyS5 is not there, ttyS7 is
    // not ours to open, ttyS9 is held by another program.
    auto probe = [](const std::string& p) {
        const int error = p == "/dev/ttyS5"   ? ENOENT
                          : p == "/dev/ttyS7" ? EACCES
                          : p == "/dev/ttyS9" ? EBUSY
                                              : 0;
        return error ? ProbeResult{describeOpenError(p, error), {}} : ProbeResult{};
    };
    const auto list = buildPortList({portAt("/dev/ttyS1"), portAt("/dev/ttyS3"), portAt("/dev/ttyS12"),
                                     portAt("/dev/ttyS5"), portAt("/dev/ttyS7"), portAt("/dev/ttyS9"),
                                     portAt("/dev/ttyS1")},
                                    probe, "/dev/ttyS3");
    const std::vector<std::pair<std::string, OpenFailure>> expected = {
        {"/dev/ttyS12", OpenFailure::None},
        {"/dev/ttyS9", OpenFailure::Busy},
        {"/dev/ttyS7", OpenFailure::NoPermission},
        {"/dev/ttyS1", OpenFailure::None},
        {"/dev/ttyS3", OpenFailure::None}};
    ASSERT_EQ(list.size(), expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].info.path, expected[i].first) << i;
        EXPECT_EQ(list[i].probe.error.kind, expected[i].second) << i;
        EXPECT_EQ(list[i].held, i + 1 == list.size()) << i;
    }
    EXPECT_NE(shortReason("ttyS7", list[2].probe).find("dialout"), std::string::npos);
    EXPECT_TRUE(buildPortList({}, probe, "").empty());
}

TEST(PortDiscovery, ExtraPortsFromTheEnvironment) {
    ::setenv("MB_EXTRA_PORTS", "/tmp/vx-a::/tmp/vx-b:/tmp/vx-a", 1);
    const std::vector<PortInfo> c = candidatePorts();
    ::unsetenv("MB_EXTRA_PORTS");
    auto count = [&c](const std::string& p) {
        return std::count_if(c.begin(), c.end(), [&p](const PortInfo& i) { return i.path == p; });
    };
    EXPECT_EQ(count("/tmp/vx-a"), 1);
    EXPECT_EQ(count("/tmp/vx-b"), 1);
    EXPECT_EQ(count(""), 0);
}
