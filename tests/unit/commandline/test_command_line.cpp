#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using vx::app::CommandLine;
using vx::app::parseCommandLine;

TEST(CommandLine, HelpVersionUnknownOptionsAndEverythingElse) {
    struct Case {
        QStringList args;
        CommandLine::Action action;
        int status;
        const char* says; // part of the text to print
    };
    const Case cases[] = {
        {{}, CommandLine::Action::Run, 0, ""},
        // The maker switch and any other plain argument are the window's business, as before.
        {{"/QARNEL"}, CommandLine::Action::Run, 0, ""},
        {{"x", "/qArNeL", "-", "COM3"}, CommandLine::Action::Run, 0, ""},
        {{"--", "-x"}, CommandLine::Action::Run, 0, ""},
        // The toolkit's own options pass through to it.
        {{"-platform", "offscreen", "-reverse", "/QARNEL"}, CommandLine::Action::Run, 0, ""},
        {{"--help"}, CommandLine::Action::Print, 0, "Usage: vx2207-config [options]"},
        {{"-h"}, CommandLine::Action::Print, 0, "--version"},
        {{"/QARNEL", "-help"}, CommandLine::Action::Print, 0, "Usage: vx2207-config"},
        {{"--version"}, CommandLine::Action::Print, 0, "vx2207-config " VX_VERSION "\n"},
        {{"-v", "/QARNEL"}, CommandLine::Action::Print, 0, "vx2207-config " VX_VERSION},
        {{"--frobnicate"}, CommandLine::Action::Fail, 2, "vx2207-config: Unknown option 'frobnicate'."},
        {{"/QARNEL", "-QARNEL"}, CommandLine::Action::Fail, 2, "Usage: vx2207-config"},
        {{"-x", "--help"}, CommandLine::Action::Fail, 2, "Unknown option 'x'"},
        {{"-style"}, CommandLine::Action::Fail, 2, "Missing value after '-style'"},
        {{"--version=1"}, CommandLine::Action::Fail, 2, "Usage:"},
    };
    for (const Case& c : cases) {
        const CommandLine line = parseCommandLine(QStringList{"/usr/bin/vx2207-config"} + c.args);
        const std::string args = c.args.join(' ').toStdString();
        EXPECT_EQ(line.action, c.action) << args;
        EXPECT_EQ(line.exitStatus, c.status) << args;
        EXPECT_TRUE(line.text.contains(QString::fromUtf8(c.says))) << args << ": " << line.text.toStdString();
        if (c.action == CommandLine::Action::Run) {
            EXPECT_TRUE(line.text.isEmpty()) << args;
        }
    }
}

TEST(CommandLine, RecordTakesAFile) {
    struct Case {
        QStringList args;
        CommandLine::Action action;
        const char* file;
    };
    const Case cases[] = {
        {{"--record", "out.csv", "/QARNEL"}, CommandLine::Action::Run, "out.csv"},
        {{"/QARNEL", "-record", "/tmp/a b.csv"}, CommandLine::Action::Run, "/tmp/a b.csv"},
        {{"--record=x.csv"}, CommandLine::Action::Run, "x.csv"},
        {{"/QARNEL"}, CommandLine::Action::Run, ""},
        {{"--record"}, CommandLine::Action::Fail, ""},
    };
    for (const Case& c : cases) {
        const CommandLine line = parseCommandLine(QStringList{"vx2207-config"} + c.args);
        EXPECT_EQ(line.action, c.action) << c.args.join(' ').toStdString();
        EXPECT_EQ(line.recordFile, QString::fromUtf8(c.file)) << c.args.join(' ').toStdString();
    }
}

TEST(CommandLine, VerboseAsksForTheTrace) {
    EXPECT_TRUE(parseCommandLine({"vx2207-config", "--verbose"}).verbose);
    EXPECT_TRUE(parseCommandLine({"vx2207-config", "/QARNEL", "-verbose"}).verbose);
    EXPECT_FALSE(parseCommandLine({"vx2207-config", "/QARNEL"}).verbose);
    EXPECT_EQ(parseCommandLine({"vx2207-config", "--verbose=yes"}).action, CommandLine::Action::Fail);
    const QString help = parseCommandLine({"vx2207-config", "--help"}).text;
    EXPECT_TRUE(help.contains("--verbose") && help.contains("vx.port")) << help.toStdString();
}

} // namespace

TEST(CommandLine, PortDemoAndTimeOut) {
    struct Case {
        QStringList args;
        CommandLine::Action action;
        const char* port;
        unsigned timeOut;
    };
    const Case cases[] = {
        {{"--port", "rfc2217://box:2217", "--timeout", "2500"},
         CommandLine::Action::Run,
         "rfc2217://box:2217",
         2500},
        {{"--demo", "/QARNEL"}, CommandLine::Action::Run, "demo://V", 0},
        {{"--demo", "--port", "/dev/ttyS0"}, CommandLine::Action::Fail, "", 0},
        {{"--timeout", "99"}, CommandLine::Action::Fail, "", 0},
        {{"--port", "tcp://nowhere"}, CommandLine::Action::Fail, "", 0},
        {{"--timeout", "30001"}, CommandLine::Action::Fail, "", 0},
        {{"--timeout", "1e3"}, CommandLine::Action::Fail, "", 0},
    };
    for (const Case& c : cases) {
        const CommandLine line = parseCommandLine(QStringList{"vx2207-config"} + c.args);
        SCOPED_TRACE(c.args.join(' ').toStdString());
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.openPort.toStdString(), c.port);
        EXPECT_EQ(line.replyTimeOutMs, c.timeOut);
    }
}
