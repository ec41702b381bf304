#include "app/CommandLine.h"

#include "link/netchannel.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace vx::app {

namespace {

const QString kProgram = QStringLiteral("vx2207-config");

// Options the toolkit itself reads once the application starts; they pass through untouched.
struct ToolkitOption {
    const char* name;
    bool takesValue;
};
constexpr ToolkitOption kToolkitOptions[] = {
    {"platform", true},        {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowicon", true},        {"qwindowtitle", true},  {"session", true},
    {"style", true},           {"stylesheet", true},         {"display", true},       {"geometry", true},
    {"reverse", false},        {"widgetcount", false},
};

} // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // Qt's own options are written with one dash (-platform offscreen); so is ours (-help) then.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Configuration and calibration tool for the VX2207 signal converter.\n"
                       "Pick the instrument's serial port on the link panel and press Open.\n"
                       "The toolkit's usual options (-platform, -style, -reverse, ...) are accepted too."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the program's version and exit."));
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral(
            "Record the measured values to FILE (CSV, full stop as the decimal separator) from the "
            "first good reply on, as the Tools menu's recording does."),
        QStringLiteral("FILE"));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Open NAME on the link panel at start: a device (/dev/ttyUSB0), a serial device "
                       "server's port (tcp://host:port raw, rfc2217://host:port with line settings) or "
                       "demo://V, demo://M."),
        QStringLiteral("NAME"));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Open the demo instrument at start (simulated values)."));
    const QCommandLineOption timeout(
        QStringLiteral("timeout"),
        QStringLiteral("Wait MS milliseconds for a reply beyond its line time (default 1000; raise it for a "
                       "slow network path, 100 to 30000)."),
        QStringLiteral("MS"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Write a trace of the port's life (open, loss, waiting, reconnect), every "
                       "transaction and the tools' work to standard error, for a problem report. "
                       "QT_LOGGING_RULES chooses finer: vx.port, vx.link, vx.tools."));
    const QCommandLineOption settings(
        QStringLiteral("settings"),
        QStringLiteral("Read and write the program's settings (port, language, window) in FILE instead of "
                       "the usual place, e.g. one file per bench."),
        QStringLiteral("FILE"));
    const QCommandLineOption recordOverwrite(
        QStringLiteral("record-overwrite"),
        QStringLiteral("Let --record replace an existing FILE (otherwise the file is left as it is)."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(record);
    parser.addOption(recordOverwrite);
    parser.addOption(verbose);
    parser.addOption(port);
    parser.addOption(demo);
    parser.addOption(timeout);
    parser.addOption(settings);
    for (const ToolkitOption& t : kToolkitOptions) {
        QCommandLineOption o(QString::fromLatin1(t.name));
        if (t.takesValue) o.setValueName(QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }

    // Without an application object the parser cannot name the program in its usage line.
    QString usage = parser.helpText();
    usage.replace(QStringLiteral("<executable_name>"), kProgram);

    const auto answer = [](CommandLine::Action action, const QString& text, int exitStatus) {
        CommandLine c;
        c.action = action;
        c.text = text;
        c.exitStatus = exitStatus;
        return c;
    };
    if (!parser.parse(arguments))
        return answer(CommandLine::Action::Fail,
                      kProgram + QStringLiteral(": ") + parser.errorText() + QLatin1Char('\n') + usage, 2);
    if (parser.isSet(help)) return answer(CommandLine::Action::Print, usage, 0);
    if (parser.isSet(version))
        return answer(CommandLine::Action::Print,
                      kProgram + QStringLiteral(" ") + QStringLiteral(VX_VERSION "\n"), 0);
    const auto fail = [&](const QString& why) {
        return answer(CommandLine::Action::Fail, kProgram + QStringLiteral(": ") + why + QLatin1Char('\n'),
                      2);
    };
    CommandLine run;
    run.recordFile = parser.value(record);
    run.verbose = parser.isSet(verbose);
    run.settingsFile = parser.value(settings);
    run.recordOverwrite = parser.isSet(recordOverwrite);
    if (parser.isSet(port) && parser.isSet(demo))
        return fail(QStringLiteral("--port and --demo exclude each other."));
    run.openPort = parser.isSet(demo) ? QStringLiteral("demo://V") : parser.value(port);
    if (const std::string name = run.openPort.toStdString();
        mb::port::isNetworkAddress(name) && !mb::port::parseNetAddress(name))
        return fail(
            QStringLiteral("'%1' is no network address: write tcp://host:port or rfc2217://host:port.")
                .arg(run.openPort));
    if (parser.isSet(timeout)) {
        bool ok = false;
        const unsigned ms = parser.value(timeout).toUInt(&ok);
        if (!ok || ms < 100 || ms > 30000)
            return fail(QStringLiteral("--timeout takes 100 to 30000 (milliseconds), not '%1'.")
                            .arg(parser.value(timeout)));
        run.replyTimeOutMs = ms;
    }
    return run;
}

} // namespace vx::app
