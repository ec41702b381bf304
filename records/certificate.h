#pragma once
// A record as a certificate (PDF, English or Hungarian), as versioned JSON for a quality system and as
// CSV, one row per point. The JSON layout is described in the README; kJsonVersion changes whenever a
// field changes meaning or goes away.
#include "records/run.h"

#include <QByteArray>
#include <QString>

namespace vx::records {

inline constexpr int kJsonVersion = 1;

enum class Language { English, Hungarian };

QByteArray toJson(const Run& run);
QByteArray toCsv(const Run& run);
// Writes the PDF. Returns an error text, empty on success.
QString writePdf(const Run& run, Language language, const QString& path);
// The certificate's body as HTML (also what the PDF lays out).
QString certificateHtml(const Run& run, Language language);

// Writes <folder>/<certificate>.pdf, .json and .csv, each through a temporary file so an interrupted
// export leaves no half file. Returns an error text, empty on success.
QString exportRun(const Run& run, Language language, const QString& folder);

} // namespace vx::records
