// The bench commands' command lines: what each needs, what belongs to which command.
#include "cli/Arguments.h"

#include <gtest/gtest.h>

using vx::cli::parseArguments;

TEST(CliArguments, BenchCommandsNeedTheirInstrumentsAndARecordItsSerial) {
    const std::vector<std::string> bench{"--meter", "/dev/m", "--source", "tcp:h"};
    const auto with = [&](std::vector<std::string> a) {
        a.insert(a.end(), bench.begin(), bench.end());
        return a;
    };
    const struct {
        std::vector<std::string> args;
        std::string error; // part of it; empty: usable
    } cases[] = {
        {with({"verify", "--serial", "S1"}), ""},
        {with({"verify", "--no-record", "--phase", "as-left"}), ""},
        {with({"calibrate", "--store", "--serial", "S1", "--reference", "M,S,C,2099-01-01"}), ""},
        {{"check", "--meter", "/dev/m", "50"}, ""},
        {{"certificate", "12", "--language", "hu", "--output", "/tmp/c"}, ""},
        {{"certificate", "--serial", "S1"}, ""},
        {{"verify", "--serial", "S1", "--meter", "/dev/m"}, "needs the reference meter and source"},
        {with({"verify"}), "give the unit's --serial"},
        {with({"calibrate", "--serial", "S", "--reference", "M,S,C"}), "--reference: not MODEL"},
        {with({"verify", "--serial", "S", "--phase", "later"}), "--phase"},
        {with({"verify", "--serial", "S", "--store"}), "--store does not belong to verify"},
        {{"check", "--source", "tcp:h"}, "--source does not belong to check"},
        {{"watch", "--count", "2", "--no-record"}, "--no-record does not belong to watch"},
        {{"identify", "--count", "2"}, "--count does not belong to identify"},
        {{"certificate"}, "a record number or --serial"},
        {{"certificate", "0"}, "not a record number"},
        {{"certificate", "3", "--serial", "S"}, "not both"},
        {{"certificate", "3", "--language", "de"}, "--language"},
        {{"apply", "f.json", "--store"}, "--store does not belong to apply"},
    };
    for (const auto& c : cases) {
        const std::string error = parseArguments(c.args).error;
        if (c.error.empty())
            EXPECT_EQ(error, "") << c.args.front();
        else
            EXPECT_NE(error.find(c.error), std::string::npos) << c.args.front() << ": " << error;
    }
    const vx::cli::Arguments a = parseArguments(with({"calibrate", "--serial", "S1", "--reference", "M,S,C,D",
                                                      "--reference", "N,T,E,F"}))
                                     .args;
    EXPECT_EQ(a.command, vx::cli::Command::Calibrate);
    EXPECT_EQ(a.references.size(), 2u);
    EXPECT_EQ(parseArguments({"certificate", "12"}).args.recordId, 12);
}
