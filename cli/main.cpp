// vx2207-cli: the configurator's second front end, for production lines and scripts. Qt Core only: a
// certificate's PDF comes from a module that brings its own offscreen Gui application.
#include "cli/Arguments.h"
#include "cli/Commands.h"
#include "cli/PdfModule.h"
#include "cli/Session.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {
void write(std::FILE* f, const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), f);
    std::fflush(f);
}
} // namespace

int main(int argc, char* argv[]) {
    using namespace vx::cli;
    const std::vector<std::string> words(argv + 1, argv + argc);
    const Parsed parsed = parseArguments(words);
    const Arguments& args = parsed.args;
    // Which application the command needs is decided before there is one.
    std::unique_ptr<QCoreApplication> app;
    if (args.command == Command::Certificate && parsed.error.empty() && !args.help)
        if (const PdfModule* pdf = pdfModule().module) app.reset(pdf->makeApplication(argc, argv));
    if (!app) app = std::make_unique<QCoreApplication>(argc, argv);
    if (args.help) {
        write(stdout, usageText());
        return 0;
    }
    if (args.version) {
        write(stdout, std::string("vx2207-cli ") + VX_VERSION + "\n");
        return 0;
    }
    if (!parsed.error.empty()) {
        write(stderr, "vx2207-cli: " + parsed.error + "\n\n" + usageText());
        return static_cast<int>(Exit::Usage);
    }

    Session* session = nullptr;
    bool interruptedBeforeSession = false;
    onTerminationSignal([&] {
        if (session)
            session->interrupt();
        else
            interruptedBeforeSession = true;
    });
    // Each attempt waits at most a second, so a lost reply is tried again within the time-out.
    const auto makeLink = [&] { return makeSerialLink(std::min(args.timeoutMs, 1000u)); };
    const Result r = runCommand(
        args, makeLink, [](const std::string& line) { write(stdout, line); },
        [&](Session* s) {
            session = s;
            if (s && interruptedBeforeSession) s->interrupt();
        });
    // The receive thread of a closed port is deleted from the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    if (args.json) {
        write(stdout,
              QJsonDocument(resultObject(args, r)).toJson(QJsonDocument::Compact).toStdString() + "\n");
    } else if (args.command != Command::Watch) {
        std::string out;
        for (const std::string& line : r.lines)
            out += line + "\n";
        write(stdout, out);
    }
    if (!r.error.empty()) write(stderr, "vx2207-cli: " + r.error + "\n");
    return static_cast<int>(r.status);
}
