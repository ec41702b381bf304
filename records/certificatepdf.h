#pragma once
// The certificate as a PDF, English or Hungarian. Needs Qt Gui (a QGuiApplication, offscreen will do),
// so it is a library of its own: the window links it, the command-line tool loads it only when asked.
#include "records/certificate.h"

namespace vx::records {

// Writes the PDF. Returns an error text, empty on success.
QString writePdf(const Run& run, Language language, const QString& path);
// The certificate's body as HTML (also what the PDF lays out).
QString certificateHtml(const Run& run, Language language);

} // namespace vx::records
