// vx2207-config: the VX2207 configurator.
#include "app/CommandLine.h"
#include "app/Startup.h"
#include "link/logging.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    // Read before the application object: --help and --version must work where there is no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const vx::app::CommandLine line = vx::app::parseCommandLine(arguments);
    if (line.action != vx::app::CommandLine::Action::Run) {
        std::fputs(line.text.toLocal8Bit().constData(),
                   line.action == vx::app::CommandLine::Action::Print ? stdout : stderr);
        return line.exitStatus;
    }
    if (line.verbose) vx::enableVerboseLogging();
    QApplication app(argc, argv);
    vx::app::prepareApplication();
    vx::app::ProgramWindow program(line, line.settingsFile);
    program.show();
    return app.exec();
}
