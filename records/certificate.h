#pragma once
// A record as versioned JSON for a quality system and as CSV, one row per point, and the three files of
// a certificate (the PDF laid out by records/certificatepdf.h, which needs Qt Gui). The JSON layout is
// described in the README; kJsonVersion changes whenever a field changes meaning or goes away.
#include "records/run.h"

#include <QByteArray>
#include <QString>

namespace vx::records {

inline constexpr int kJsonVersion = 1;

enum class Language { English, Hungarian };

QByteArray toJson(const Run& run);
QByteArray toCsv(const Run& run);

// Lays a record out as a PDF at `path`. Returns an error text, empty on success.
using PdfWriter = QString (*)(const Run& run, Language language, const QString& path);

// Writes <folder>/<certificate>.json and .csv, then .pdf through `pdf` unless it is null, each through
// a temporary file so an interrupted export leaves no half file. Returns an error text, empty on success.
QString exportRun(const Run& run, Language language, const QString& folder, PdfWriter pdf);

} // namespace vx::records
