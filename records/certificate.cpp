#include "records/certificate.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>

namespace vx::records {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
QJsonValue number(const std::optional<double>& v) {
    return v && std::isfinite(*v) ? QJsonValue(*v) : QJsonValue();
}
// Files for machines always use a full stop.
QString plain(double v) {
    return std::isfinite(v) ? QString::number(v, 'g', 10) : QString();
}

} // namespace

QByteArray toJson(const Run& run) {
    QJsonObject unit{{"serial", q(run.unit.serial)},
                     {"variant", q(run.unit.variant)},
                     {"firmware", q(run.unit.firmware)},
                     {"calibration_date", q(run.unit.calibrationDate)},
                     {"working_minutes", static_cast<qint64>(run.unit.workingMinutes)},
                     {"temperature_c", number(run.unit.temperature)},
                     {"temperature_min_c", number(run.unit.temperatureMin)},
                     {"temperature_max_c", number(run.unit.temperatureMax)}};
    QJsonArray references;
    for (const Reference& r : run.references)
        references.append(QJsonObject{{"model", q(r.model)},
                                      {"serial", q(r.serial)},
                                      {"certificate", q(r.certificate)},
                                      {"due_date", q(r.dueDate)}});
    QJsonArray points;
    for (const Point& p : run.points)
        points.append(QJsonObject{{"phase", q(phaseKey(p.phase))},
                                  {"quantity", q(quantityKey(p.check.quantity))},
                                  {"range", p.check.range < 0 ? QJsonValue() : QJsonValue(p.check.range)},
                                  {"percent", p.check.percent},
                                  {"nominal", number(p.check.nominal)},
                                  {"span", number(p.check.span)},
                                  {"unit", q(p.check.unit)},
                                  {"reference", number(p.reference)},
                                  {"instrument", number(p.instrument)},
                                  {"error_percent_of_span", number(p.result.errorPercent)},
                                  {"limit_percent_of_span", number(p.result.limit)},
                                  {"verdict", q(verdictKey(p.result.verdict))}});
    QJsonArray constants;
    for (const StoredConstants& c : run.constants) {
        QJsonArray values;
        for (std::int64_t v : c.values)
            values.append(static_cast<qint64>(v));
        constants.append(QJsonObject{{"kind", c.kind == StoredConstants::Kind::Output ? "output" : "input"},
                                     {"values", values},
                                     {"acknowledged", q(c.acknowledged)}});
    }
    const auto result = [&](Phase p) {
        return run.has(p) ? QJsonValue(run.passed(p) ? "pass" : "fail") : QJsonValue();
    };
    QJsonObject o{
        {"format", "vx2207-calibration-record"},
        {"version", kJsonVersion},
        {"certificate", q(run.certificate)},
        {"record_id", static_cast<qint64>(run.id)},
        {"replaces_record_id", run.replaces ? QJsonValue(static_cast<qint64>(*run.replaces)) : QJsonValue()},
        {"created", q(run.created)},
        {"trial", run.trial},
        {"unit", unit},
        {"engineer", q(run.engineer)},
        {"ambient_c", number(run.ambient)},
        {"references", references},
        {"decision_rule",
         QJsonObject{{"kind", run.rule.kind == DecisionRule::Kind::Simple ? "simple" : "guard_band"},
                     {"guard_band_percent_of_span", run.rule.kind == DecisionRule::Kind::Simple
                                                        ? QJsonValue()
                                                        : QJsonValue(run.rule.guardBand)}}},
        {"points", points},
        {"constants", constants},
        {"result", QJsonObject{{"as_found", result(Phase::AsFound)}, {"as_left", result(Phase::AsLeft)}}}};
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray toCsv(const Run& run) {
    const auto field = [](QString s) {
        // Quoted where a separator, quote or line break would break the row; a leading = + - @ is kept
        // from being taken for a formula by a spreadsheet.
        if (!s.isEmpty() && QStringLiteral("=+-@").contains(s.front()) && !s.front().isDigit() &&
            !(s.size() > 1 && (s[1].isDigit() || s[1] == QLatin1Char('.'))))
            s.prepend(QLatin1Char('\''));
        if (s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('"')) || s.contains(QLatin1Char('\n')) ||
            s.contains(QLatin1Char('\r')))
            s = QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        return s;
    };
    QByteArray out =
        "certificate,serial,created,trial,phase,quantity,range,percent,nominal,unit,span,reference,"
        "instrument,error_percent_of_span,limit_percent_of_span,verdict\r\n";
    for (const Point& p : run.points) {
        const QStringList cells{field(q(run.certificate)),
                                field(q(run.unit.serial)),
                                field(q(run.created)),
                                run.trial ? QStringLiteral("1") : QStringLiteral("0"),
                                q(phaseKey(p.phase)),
                                q(quantityKey(p.check.quantity)),
                                p.check.range < 0 ? QString() : QString::number(p.check.range),
                                QString::number(p.check.percent),
                                plain(p.check.nominal),
                                field(q(p.check.unit)),
                                plain(p.check.span),
                                plain(p.reference),
                                plain(p.instrument),
                                plain(p.result.errorPercent),
                                plain(p.result.limit),
                                q(verdictKey(p.result.verdict))};
        out += cells.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    return out;
}

QString exportRun(const Run& run, Language language, const QString& folder, PdfWriter pdfWriter) {
    if (run.certificate.empty()) return QStringLiteral("Only a saved record can be exported.");
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) return QStringLiteral("Cannot make the folder %1.").arg(folder);
    // The certificate number is ours (letters, digits and hyphens), so it is safe as a file name.
    const QString base = dir.filePath(q(run.certificate));
    for (const auto& [suffix, bytes] : {std::pair{".json", toJson(run)}, std::pair{".csv", toCsv(run)}}) {
        QSaveFile f(base + QLatin1String(suffix));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
            return QStringLiteral("Cannot write %1: %2").arg(f.fileName(), f.errorString());
    }
    if (!pdfWriter) return {};
    // The PDF writer writes in place: it goes to a temporary name first and is renamed when whole.
    const QString pdf = base + QStringLiteral(".pdf");
    const QString partial = pdf + QStringLiteral(".part");
    if (QString error = pdfWriter(run, language, partial); !error.isEmpty()) {
        QFile::remove(partial);
        return error;
    }
    QFile::remove(pdf);
    if (!QFile::rename(partial, pdf)) return QStringLiteral("Cannot write %1.").arg(pdf);
    return {};
}

} // namespace vx::records
