#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace vx::sim;

TEST(SimOptions, EachOptionTakesItsValueOrSaysWhatIsWrong) {
    struct Parsed {
        bool ok, help;
        std::string error;
        Options o;
    };
    const auto parse = [](std::vector<const char*> args) {
        args.insert(args.begin(), "vx2207-sim");
        Parsed p;
        p.ok = parseOptions(static_cast<int>(args.size()), args.data(), &p.o, &p.help, &p.error);
        return p;
    };
    // clang-format off
    const Parsed good = parse({"-v", "--calibrated", "--link=/tmp/x", "--tcp", "0", "--scpi-meter", "tcp:5025",
                               "--meter-digits=8", "--meter-noise", "2.5", "--seed", "4294967295", "-h"});
    // clang-format on
    ASSERT_TRUE(good.ok && good.help) << good.error;
    const Options& o = good.o;
    EXPECT_TRUE(o.verbose && o.calibrated && o.link == "/tmp/x" && o.tcpPort == 0 &&
                o.scpiMeter == "tcp:5025");
    EXPECT_TRUE(o.meter.digits == 8 && o.meter.noisePpm == 2.5 && o.model.seed == 4294967295u);
    const std::pair<std::vector<const char*>, const char*> refused[] = {
        {{"--verbose=1"}, "--verbose takes no value"},
        {{"--delay"}, "--delay needs a value"},
        {{"--link="}, "bad value for --link: ''"},
        {{"--meter-digits", "0"}, "bad value for --meter-digits: '0'"},
        {{"--scpi-source", "tcp:x"}, "bad value for --scpi-source: 'tcp:x'"},
        {{"--variant", "X"}, "bad value for --variant: 'X'"},
        {{""}, "unknown option ''"},
        {{"--frobnicate=2"}, "unknown option '--frobnicate'"},
    };
    for (const auto& [args, error] : refused) {
        const Parsed p = parse(args);
        EXPECT_FALSE(p.ok || p.help);
        EXPECT_EQ(p.error, error);
    }
}

TEST(SimOptions, TheHelpListsExactlyTheOptionsTaken) {
    std::set<std::string> listed;
    std::istringstream text(usageText());
    for (std::string line; std::getline(text, line);) {
        if (line.rfind("  -", 0) != 0) continue;
        std::istringstream words(line); // "  -v, --verbose   log ..." or "  --link PATH   also ..."
        for (std::string w; words >> w && w[0] == '-';)
            listed.insert(w.substr(0, w.find(',')));
    }
    const auto names = optionNames();
    EXPECT_EQ(listed, std::set<std::string>(names.begin(), names.end()));
}
