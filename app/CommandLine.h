#pragma once
// The configurator's command line, read before any window exists: --help and --version answer without a
// display, an unknown option is refused, and every other argument (the maker switch among them) is left
// for the window to look at.
#include <QString>
#include <QStringList>

namespace vx::app {

struct CommandLine {
    enum class Action { Run, Print, Fail };
    Action action = Action::Run;
    // What to print: on standard output for Print, on standard error for Fail.
    QString text;
    int exitStatus = 0;
    // --record FILE: record to FILE from the first good reply on (empty: not asked).
    QString recordFile;
    // --port NAME or --demo: the port to open once the window is shown (empty: none).
    QString openPort;
    // --timeout MS: the reply time-out added to the line time, for links with a network's delay; 0
    // keeps the link's default.
    unsigned replyTimeOutMs = 0;
    // --settings FILE: the program's settings file in place of the usual one (empty: the usual one).
    QString settingsFile;
    // --verbose: the trace of the port, the link and the tools on standard error.
    bool verbose = false;
    // --record-overwrite: an existing FILE is emptied; without it, it is left alone and nothing recorded.
    bool recordOverwrite = false;
};

// arguments as the program received them, its own name first.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace vx::app
