#include "records/certificatepdf.h"

#include "instrument/codes.h"

#include <QAbstractTextDocumentLayout>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

#include <cmath>

namespace vx::records {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
QString q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The certificate's texts: English, Hungarian.
enum Text {
    tTitle,
    tVerification,
    tNumber,
    tPage,
    tUnit,
    tSerial,
    tVariant,
    tFirmware,
    tUnitCalibrated,
    tWorking,
    tTemperatures,
    tEngineer,
    tAmbient,
    tReferences,
    tModel,
    tCertificate,
    tDue,
    tRule,
    tRuleSimple,
    tRuleGuard,
    tAsFound,
    tAsLeft,
    tSignal,
    tPoint,
    tNominal,
    tReference,
    tInstrument,
    tError,
    tLimit,
    tVerdict,
    tPass,
    tFail,
    tInvalid,
    tSignature,
    tDate,
    tTrial,
    tReplaces,
    tConstants,
    tResult,
    tOutput,
    tHours,
    tIssued,
    tCount
};
const char* const kTexts[tCount][2] = {
    {"Calibration certificate", "Kalibrálási bizonyítvány"},
    {"Verification record", "Ellenőrzési jegyzőkönyv"},
    {"Certificate No.", "Bizonyítványszám"},
    {"Page %1 of %2", "%1. oldal / %2"},
    {"Unit", "Készülék"},
    {"Serial number", "Gyári szám"},
    {"Variant", "Változat"},
    {"Firmware", "Firmware"},
    {"Calibration date (unit)", "Kalibrálás dátuma (készülék)"},
    {"Working time", "Üzemidő"},
    {"Temperature min. / now / max.", "Hőmérséklet min. / aktuális / max."},
    {"Engineer", "Kalibrálást végezte"},
    {"Ambient temperature", "Környezeti hőmérséklet"},
    {"Reference instruments", "Referencia műszerek"},
    {"Model", "Típus"},
    {"Certificate", "Bizonyítvány"},
    {"Due date", "Esedékes"},
    {"Decision rule", "Döntési szabály"},
    {"Simple acceptance: a point passes when |error| ≤ tolerance.",
     "Egyszerű elfogadás: a pont megfelel, ha |hiba| ≤ tűrés."},
    {"Guarded acceptance: a point passes when |error| ≤ tolerance − guard band (%1 % of span).",
     "Védősávos elfogadás: a pont megfelel, ha |hiba| ≤ tűrés − védősáv (a tartomány %1 %-a)."},
    {"As found", "Kalibrálás előtt (as found)"},
    {"As left", "Kalibrálás után (as left)"},
    {"Signal", "Jel"},
    {"Point", "Pont"},
    {"Nominal", "Névleges"},
    {"Reference", "Referencia"},
    {"Instrument", "Készülék"},
    {"Error (% of span)", "Hiba (tartomány %)"},
    {"Limit (% of span)", "Határ (tartomány %)"},
    {"Verdict", "Minősítés"},
    {"PASS", "MEGFELELT"},
    {"FAIL", "NEM FELELT MEG"},
    {"INVALID", "ÉRVÉNYTELEN"},
    {"Signature", "Aláírás"},
    {"Date", "Dátum"},
    {"TRIAL RUN – not a certificate", "PRÓBAMÉRÉS – nem bizonyítvány"},
    {"Replaces record", "Helyesbíti"},
    {"Stored calibration constants", "Tárolt kalibrálási állandók"},
    {"Result", "Eredmény"},
    {"Output", "Kimenet"},
    {"h", "óra"},
    {"Issued", "Kiállítva"},
};

class Texts {
public:
    explicit Texts(Language l)
        : hu_(l == Language::Hungarian), locale_(hu_ ? QLocale::Hungarian : QLocale::English) {
        locale_.setNumberOptions(QLocale::OmitGroupSeparator);
    }
    QString operator()(Text t) const { return QString::fromUtf8(kTexts[t][hu_ ? 1 : 0]); }
    QString num(double v, int decimals) const {
        return std::isfinite(v) ? locale_.toString(v, 'f', decimals) : QStringLiteral("—");
    }
    QString verdict(Verdict v) const {
        return (*this)(v == Verdict::Pass ? tPass : v == Verdict::Fail ? tFail : tInvalid);
    }

private:
    bool hu_;
    QLocale locale_;
};

QString signalName(const CheckPoint& c, const Texts& t) {
    if (const auto* range = instrument::inputRange(c.range)) return q(range->name);
    return t(tOutput) + QStringLiteral(" (") + q(c.unit) + QLatin1Char(')');
}

QString escaped(const std::string& s) {
    return q(s).toHtmlEscaped();
}

QString pointsTable(const Run& run, Phase phase, const Texts& t) {
    QString h = QStringLiteral("<table width='100%' cellspacing='0' cellpadding='3' border='1'><tr>");
    for (Text c : {tSignal, tPoint, tNominal, tReference, tInstrument, tError, tLimit, tVerdict})
        h += QStringLiteral("<th>%1</th>").arg(t(c).toHtmlEscaped());
    h += QStringLiteral("</tr>");
    for (const Point& p : run.points) {
        if (p.phase != phase) continue;
        const QString unit = q(p.check.unit);
        h +=
            QStringLiteral("<tr><td>%1</td><td align='right'>%2 %</td><td align='right'>%3 %4</td>"
                           "<td align='right'>%5 %4</td><td align='right'>%6 %4</td><td align='right'>%7</td>"
                           "<td align='right'>±%8</td><td align='center'><b>%9</b></td></tr>")
                .arg(signalName(p.check, t).toHtmlEscaped(), QString::number(p.check.percent),
                     t.num(p.check.nominal, 4), unit, t.num(p.reference, 4), t.num(p.instrument, 4),
                     t.num(p.result.errorPercent, 4), t.num(p.result.limit, 4), t.verdict(p.result.verdict));
    }
    return h + QStringLiteral("</table>");
}

QString row(const QString& name, const QString& value) {
    return QStringLiteral("<tr><td width='40%'>%1</td><td>%2</td></tr>").arg(name.toHtmlEscaped(), value);
}

QString phaseVerdict(const Run& run, Phase p, const Texts& t) {
    return t.verdict(run.passed(p) ? Verdict::Pass : Verdict::Fail);
}

} // namespace

QString certificateHtml(const Run& run, Language language) {
    const Texts t(language);
    const bool certificate = run.has(Phase::AsFound) && run.has(Phase::AsLeft);
    QString h = QStringLiteral("<html><body style='font-family: \"DejaVu Sans\"; font-size: 9pt'>");
    h += QStringLiteral("<h2>%1</h2>").arg(t(certificate ? tTitle : tVerification));
    if (run.trial) h += QStringLiteral("<p style='color:#b00000'><b>%1</b></p>").arg(t(tTrial));
    h += QStringLiteral("<table width='100%' cellpadding='2'>");
    h += row(t(tNumber), QStringLiteral("<b>%1</b>").arg(escaped(run.certificate)));
    h += row(t(tIssued), escaped(run.created));
    if (run.replaces) h += row(t(tReplaces), QString::number(*run.replaces));
    h += row(t(tSerial), QStringLiteral("<b>%1</b>").arg(escaped(run.unit.serial)));
    h += row(t(tVariant), escaped(run.unit.variant));
    h += row(t(tFirmware), escaped(run.unit.firmware));
    h += row(t(tUnitCalibrated), escaped(run.unit.calibrationDate));
    h += row(t(tWorking), QStringLiteral("%1 %2").arg(run.unit.workingMinutes / 60).arg(t(tHours)));
    const auto temp = [&](const std::optional<double>& v) {
        return v ? t.num(*v, 1) + QStringLiteral(" °C") : QStringLiteral("—");
    };
    h += row(t(tTemperatures), temp(run.unit.temperatureMin) + QStringLiteral(" / ") +
                                   temp(run.unit.temperature) + QStringLiteral(" / ") +
                                   temp(run.unit.temperatureMax));
    h += row(t(tEngineer), escaped(run.engineer));
    h += row(t(tAmbient), temp(run.ambient));
    h += QStringLiteral("</table><h3>%1</h3>").arg(t(tReferences));
    h += QStringLiteral(
             "<table width='100%' cellspacing='0' cellpadding='3' border='1'><tr><th>%1</th><th>%2</th>"
             "<th>%3</th><th>%4</th></tr>")
             .arg(t(tModel), t(tSerial), t(tCertificate), t(tDue));
    for (const Reference& r : run.references)
        h += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td></tr>")
                 .arg(escaped(r.model), escaped(r.serial), escaped(r.certificate), escaped(r.dueDate));
    h += QStringLiteral("</table><h3>%1</h3><p>%2</p>")
             .arg(t(tRule), run.rule.kind == DecisionRule::Kind::Simple
                                ? t(tRuleSimple).toHtmlEscaped()
                                : t(tRuleGuard).arg(t.num(run.rule.guardBand, 4)).toHtmlEscaped());
    for (Phase p : {Phase::AsFound, Phase::AsLeft}) {
        if (!run.has(p)) continue;
        h += QStringLiteral("<h3>%1 — %2: %3</h3>")
                 .arg(t(p == Phase::AsFound ? tAsFound : tAsLeft), t(tResult), phaseVerdict(run, p, t));
        h += pointsTable(run, p, t);
    }
    if (!run.constants.empty()) {
        h += QStringLiteral("<h3>%1</h3><p>").arg(t(tConstants));
        for (const StoredConstants& c : run.constants) {
            QStringList v;
            for (std::int64_t x : c.values)
                v << QString::number(x);
            h += QStringLiteral("%1 (%2): %3<br>")
                     .arg(c.kind == StoredConstants::Kind::Output
                              ? QStringLiteral("uOut4mA, uOut20mA, uOut2V, uOut10V")
                              : QStringLiteral("Low1..7, High1..7"),
                          escaped(c.acknowledged), v.join(QStringLiteral(", ")));
        }
        h += QStringLiteral("</p>");
    }
    h += QStringLiteral("<br><br><table width='100%' cellpadding='4'><tr><td width='50%'>%1: %2</td>"
                        "<td>%3: ______________________________</td></tr></table>")
             .arg(t(tDate), escaped(run.created.substr(0, 10)), t(tSignature));
    return h + QStringLiteral("</body></html>");
}

QString writePdf(const Run& run, Language language, const QString& path) {
    const Texts t(language);
    QPdfWriter pdf(path);
    pdf.setResolution(300);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                  QPageLayout::Millimeter));
    pdf.setTitle(t(tTitle) + QLatin1Char(' ') + q(run.certificate));
    pdf.setCreator(QStringLiteral("vx2207-config"));
    QPainter painter;
    if (!painter.begin(&pdf)) return QStringLiteral("Cannot write %1.").arg(path);
    const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution());
    const int band = pdf.resolution() / 3; // header and footer lines, a third of an inch each
    const QRectF body(0, band, page.width(), page.height() - 2 * band);

    QTextDocument doc;
    doc.documentLayout()->setPaintDevice(&pdf);
    doc.setHtml(certificateHtml(run, language));
    doc.setPageSize(body.size());
    const int pages = doc.pageCount();
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPointSizeF(8);
    for (int i = 0; i < pages; ++i) {
        if (i > 0) pdf.newPage();
        // The number on every page, so a loose page still says which certificate it belongs to.
        painter.setFont(small);
        painter.drawText(QRectF(0, 0, page.width(), band), Qt::AlignLeft | Qt::AlignVCenter,
                         t(tNumber) + QLatin1Char(' ') + q(run.certificate));
        painter.drawText(QRectF(0, 0, page.width(), band), Qt::AlignRight | Qt::AlignVCenter,
                         q(run.unit.serial));
        painter.drawText(QRectF(0, page.height() - band, page.width(), band),
                         Qt::AlignRight | Qt::AlignVCenter, t(tPage).arg(i + 1).arg(pages));
        painter.save();
        painter.translate(0, body.top() - i * body.height());
        doc.drawContents(&painter, QRectF(0, i * body.height(), body.width(), body.height()));
        painter.restore();
    }
    return painter.end() ? QString() : QStringLiteral("Cannot write %1.").arg(path);
}

} // namespace vx::records
