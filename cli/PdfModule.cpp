#include "cli/PdfModule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

namespace vx::cli {
namespace {

LoadedPdf load() {
    // No application object yet, so the executable's folder comes from the kernel.
    const QDir bin = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absoluteDir();
    const QString module = QString::fromLatin1(kPdfModuleFile);
    QStringList tried;
    for (const QString& path :
         {bin.filePath(module),
          QDir::cleanPath(bin.filePath(QStringLiteral(VX_PDF_MODULE_DIR "/") + module))}) {
        if (!QFileInfo::exists(path)) {
            tried << path;
            continue;
        }
        QLibrary lib(path);
        const auto entry = reinterpret_cast<decltype(&vx2207_certificate_pdf)>(lib.resolve(kPdfModuleEntry));
        if (!entry) return {nullptr, lib.errorString()};
        const PdfModule* m = entry();
        if (!m || m->version != kPdfModuleVersion || m->runSize != sizeof(records::Run) ||
            !m->makeApplication || !m->writePdf)
            return {nullptr, path + QStringLiteral(" is from another version of vx2207-cli")};
        return {m, {}};
    }
    return {nullptr, QStringLiteral("no %1 (looked for %2)").arg(module, tried.join(QStringLiteral(", ")))};
}

} // namespace

const LoadedPdf& pdfModule() {
    static const LoadedPdf loaded = load();
    return loaded;
}

} // namespace vx::cli
