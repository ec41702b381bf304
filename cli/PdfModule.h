#pragma once
// The certificate's PDF needs Qt Gui; the tool does not link it but loads it from a module
// (vx2207-certificate-pdf.so) only for the certificate command, so it runs where no Gui library is
// installed at all. The module is built from the same tree as the tool: the version and the size of a
// record guard against one left over from another build.
#include "records/certificate.h"

#include <QString>

#include <cstddef>

class QCoreApplication;

namespace vx::cli {

struct PdfModule {
    int version;
    std::size_t runSize;
    // The application a PDF needs: Qt Gui on the offscreen platform, never a display.
    QCoreApplication* (*makeApplication)(int& argc, char** argv);
    records::PdfWriter writePdf;
};

inline constexpr int kPdfModuleVersion = 1;
inline constexpr char kPdfModuleFile[] = "vx2207-certificate-pdf.so";
inline constexpr char kPdfModuleEntry[] = "vx2207_certificate_pdf";

struct LoadedPdf {
    const PdfModule* module = nullptr;
    QString problem; // why there is no module
};

// The module beside the executable (the build tree), else in the package's private library folder;
// loaded once, on the first call. Safe before the application object exists.
const LoadedPdf& pdfModule();

} // namespace vx::cli

extern "C" const vx::cli::PdfModule* vx2207_certificate_pdf();
