#include "app/CommandLine.h"

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
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Write a trace of the port's life (open, loss, waiting, reconnect), every "
                       "transaction and the tools' work to standard error, for a problem report. "
                       "QT_LOGGING_RULES chooses finer: vx.port, vx.link, vx.tools."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(record);
    parser.addOption(verbose);
    for (const ToolkitOption& t : kToolkitOptions) {
        QCommandLineOption o(QString::fromLatin1(t.name));
        if (t.takesValue) o.setValueName(QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }

    // Without an application object the parser cannot name the program in its usage line.
    QString usage = parser.helpText();
    usage.replace(QStringLiteral("<executable_name>"), kProgram);

    if (!parser.parse(arguments))
        return {CommandLine::Action::Fail,
                kProgram + QStringLiteral(": ") + parser.errorText() + QLatin1Char('\n') + usage, 2};
    if (parser.isSet(help)) return {CommandLine::Action::Print, usage, 0};
    if (parser.isSet(version))
        return {CommandLine::Action::Print, kProgram + QStringLiteral(" ") + QStringLiteral(VX_VERSION "\n"),
                0};
    CommandLine run;
    run.recordFile = parser.value(record);
    run.verbose = parser.isSet(verbose);
    return run;
}

} // namespace vx::app
