// The module vx2207-cli loads for a certificate's PDF: the window's PDF layout and the offscreen
// application it needs.
#include "records/certificatepdf.h"
#include "cli/PdfModule.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <optional>

namespace {

QCoreApplication* makeApplication(int& argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen"); // fonts and page layout, never a window
    // A script under cron or ssh may have no runtime folder; the offscreen platform wants one.
    static std::optional<QTemporaryDir> runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.emplace().isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
    return new QGuiApplication(argc, argv);
}

QString writePdf(const vx::records::Run& run, vx::records::Language language, const QString& path) {
    // Fonts without a Gui application would abort the program.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QStringLiteral("The PDF needs the application this module makes.");
    return vx::records::writePdf(run, language, path);
}

const vx::cli::PdfModule kModule{vx::cli::kPdfModuleVersion, sizeof(vx::records::Run), makeApplication,
                                 writePdf};

} // namespace

extern "C" __attribute__((visibility("default"))) const vx::cli::PdfModule* vx2207_certificate_pdf() {
    return &kModule;
}
