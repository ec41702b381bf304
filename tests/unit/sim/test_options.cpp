#include "sim/simulator.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace vx::sim;

TEST(SimOptions, EachOptionTakesItsValueOrSaysWhatIsWrong) {
    const struct {
        std::vector<const char*> args;
        const char* error; // "" when accepted
        bool (*holds)(const Options&);
    } cases[] = {
        {{"-v", "--calibrated", "--split-writes"},
         "",
         [](const Options& o) { return o.verbose && o.calibrated; }},
        {{"--link=/tmp/x", "--tcp", "0"},
         "",
         [](const Options& o) { return o.link == "/tmp/x" && o.tcpPort == 0; }},
        {{"--scpi-meter", "tcp:5025", "--meter-digits=8"},
         "",
         [](const Options& o) { return o.scpiMeter == "tcp:5025" && o.meter.digits == 8; }},
        {{"--meter-noise", "2.5", "--variant", "m"},
         "",
         [](const Options& o) {
             return o.meter.noisePpm == 2.5 && o.model.variant == vx::instrument::kVariantModbus;
         }},
        {{"--firmware", "2015-02-27", "--seed", "4294967295"},
         "",
         [](const Options& o) { return o.model.firmwareYear == 2015 && o.model.seed == 4294967295u; }},
        {{"--drop", "0.5", "--late-ms", "600000", "--baud", "9600"},
         "",
         [](const Options& o) { return o.dropShare == 0.5 && o.lateMs == 600000 && o.baud == 9600; }},
        {{"--verbose=1"}, "--verbose takes no value", nullptr},
        {{"--delay"}, "--delay needs a value", nullptr},
        {{"--link="}, "bad value for --link: ''", nullptr},
        {{"--meter-digits", "0"}, "bad value for --meter-digits: '0'", nullptr},
        {{"--scpi-source", "tcp:x"}, "bad value for --scpi-source: 'tcp:x'", nullptr},
        {{"--drop", "1.5"}, "bad value for --drop: '1.5'", nullptr},
        {{"--tcp", "65536"}, "bad value for --tcp: '65536'", nullptr},
        {{"--variant", "X"}, "bad value for --variant: 'X'", nullptr},
        {{"--firmware", "2015-13-01"}, "bad value for --firmware: '2015-13-01'", nullptr},
        {{""}, "unknown option ''", nullptr},
        {{"-h=1"}, "unknown option '-h=1'", nullptr},
        {{"--frobnicate=2"}, "unknown option '--frobnicate'", nullptr},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"vx2207-sim"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Options o;
        bool help = true;
        std::string error;
        const bool ok = parseOptions(static_cast<int>(argv.size()), argv.data(), &o, &help, &error);
        SCOPED_TRACE(c.args.front());
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(ok, error.empty());
        EXPECT_FALSE(help);
        EXPECT_TRUE(!c.holds || c.holds(o));
    }
    const char* helpArgs[] = {"vx2207-sim", "-h"};
    Options o;
    bool help = false;
    std::string error;
    EXPECT_TRUE(parseOptions(2, helpArgs, &o, &help, &error) && help);
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
