#include "cli/Records.h"

#include "cli/PdfModule.h"
#include "records/certificate.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>

namespace vx::cli {
namespace rec = vx::records;
namespace {

struct Places {
    QString history, profile, certificates;
};

// The window's files unless the options name others: one history for both front ends.
Places places(const Arguments& a) {
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("vx2207-config"));
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    Places p{rec::History::defaultPath(), data + QStringLiteral("/vx2207-profile.ini"),
             data + QStringLiteral("/certificates")};
    QCoreApplication::setApplicationName(name);
    if (!a.history.empty()) p.history = QString::fromStdString(a.history);
    if (!a.profile.empty()) p.profile = QString::fromStdString(a.profile);
    if (!a.outputFolder.empty()) p.certificates = QString::fromStdString(a.outputFolder);
    return p;
}

std::string today() {
    return QDate::currentDate().toString(Qt::ISODate).toStdString();
}

Result historyProblem(const QString& path, const rec::History& h) {
    return failed(Exit::Usage, path.toStdString() + ": " + h.error().toStdString());
}

} // namespace

rec::Profile profileFor(const Arguments& args) {
    return rec::loadProfile(places(args).profile.toStdString());
}

std::optional<RecordPlan> planRecord(const Arguments& args, const instrument::Reply& first, Result* problem) {
    const Places at = places(args);
    RecordPlan plan;
    plan.profile = rec::loadProfile(at.profile.toStdString());
    rec::Run& run = plan.run;
    run.unit = rec::unitFromReply(first, args.serial);
    run.engineer = args.engineer;
    run.trial = args.trial;
    run.rule = plan.profile.rule;
    for (const std::string& text : args.references) {
        const QStringList f = QString::fromStdString(text).split(QLatin1Char(','));
        run.references.push_back({f[0].trimmed().toStdString(), f[1].trimmed().toStdString(),
                                  f[2].trimmed().toStdString(), f[3].trimmed().toStdString()});
    }
    if (args.noRecord) return plan;
    plan.history = std::make_unique<rec::History>();
    if (!plan.history->open(at.history)) {
        *problem = historyProblem(at.history, *plan.history);
        return std::nullopt;
    }
    // As the window ticks them: the history's references that are not overdue.
    if (args.references.empty())
        for (const rec::Reference& r : plan.history->references())
            if (!rec::referenceExpired(r, today())) run.references.push_back(r);
    if (const std::string why = run.certificateRefusal(today()); !why.empty()) {
        *problem = failed(Exit::Usage, why + " Nothing was run (--trial records a trial run).");
        return std::nullopt;
    }
    return plan;
}

void finishRecord(const Arguments& args, RecordPlan& plan, Result& r) {
    if (plan.history && !plan.history->save(plan.run, today())) {
        if (r.status == Exit::Ok) r.status = Exit::NotConfirmed;
        r.error += (r.error.empty() ? "" : "; ") + std::string("the record was not saved: ") +
                   plan.history->error().toStdString();
    }
    const QJsonObject record = QJsonDocument::fromJson(rec::toJson(plan.run)).object();
    const QJsonArray points = record.value(QStringLiteral("points")).toArray();
    r.object.insert(QStringLiteral("points"), points);
    r.object.insert(QStringLiteral("result"), record.value(QStringLiteral("result")));
    r.object.insert(QStringLiteral("trial"), plan.run.trial);
    r.object.insert(QStringLiteral("recordId"),
                    plan.run.id ? QJsonValue(static_cast<qint64>(plan.run.id)) : QJsonValue());
    r.object.insert(QStringLiteral("certificate"),
                    plan.run.certificate.empty() ? QJsonValue() : QJsonValue(qs(plan.run.certificate)));
    for (const QJsonValue& v : points) {
        const QJsonObject p = v.toObject();
        const auto t = [&](const char* key) {
            const QJsonValue x = p.value(QLatin1String(key));
            return (x.isDouble() ? QString::number(x.toDouble(), 'g', 7) : x.toString()).toStdString();
        };
        r.lines.push_back(t("phase") + " " + t("quantity") +
                          (p.value(QStringLiteral("range")).isNull() ? "" : " range " + t("range")) + " " +
                          t("percent") + " %: nominal " + t("nominal") + " " + t("unit") + ", reference " +
                          t("reference") + ", unit " + t("instrument") + ", error " +
                          t("error_percent_of_span") + " % of span (limit " + t("limit_percent_of_span") +
                          "): " + t("verdict"));
    }
    if (plan.run.id)
        r.lines.push_back("record " + std::to_string(plan.run.id) + " saved (" + plan.run.certificate +
                          (plan.run.trial ? ", trial run" : "") + ")");
    else if (args.noRecord)
        r.lines.push_back("no record written (--no-record)");
}

Result writeCertificate(const Arguments& args) {
    const Places at = places(args);
    // Opening would make a history where none is: a mistyped path is said as such.
    if (!QFile::exists(at.history))
        return failed(Exit::Usage, at.history.toStdString() + ": no calibration history");
    rec::History history;
    if (!history.open(at.history)) return historyProblem(at.history, history);
    std::optional<std::int64_t> id = args.recordId;
    if (!id) {
        // The search matches part of a serial number; the certificate is the latest of exactly this one.
        for (const rec::RunSummary& s : history.find(QString::fromStdString(args.serial)))
            if (s.serial.toStdString() == args.serial) {
                id = s.id;
                break;
            }
        if (!id)
            return failed(Exit::Usage, "no record of the serial number " + args.serial + " in " +
                                           at.history.toStdString());
    }
    const std::optional<rec::Run> run = history.load(*id);
    if (!run)
        return failed(Exit::Usage, "no record " + std::to_string(*id) + " in " + at.history.toStdString());
    // Held against the day it was made: a reference that fell due since does not undo a certificate.
    if (const std::string why = run->certificateRefusal(run->created.substr(0, 10)); !why.empty())
        return failed(Exit::Usage,
                      "record " + std::to_string(*id) + " cannot stand as a certificate: " + why);
    // Without the PDF module the JSON and CSV are still written, and the missing PDF fails the command.
    const LoadedPdf& pdf = pdfModule();
    const QString error =
        rec::exportRun(*run, args.hungarian ? rec::Language::Hungarian : rec::Language::English,
                       at.certificates, pdf.module ? pdf.module->writePdf : nullptr);
    if (!error.isEmpty()) return failed(Exit::NotConfirmed, error.toStdString());
    Result r;
    if (!pdf.module) {
        r.status = Exit::NotConfirmed;
        r.error = "the PDF was not written: " + pdf.problem.toStdString();
    }
    QJsonArray files;
    const QDir folder(at.certificates);
    for (const char* ext : {".pdf", ".json", ".csv"}) {
        if (!pdf.module && ext == std::string_view(".pdf")) continue;
        const QString path = folder.absoluteFilePath(qs(run->certificate) + QLatin1String(ext));
        files.append(path);
        r.lines.push_back(path.toStdString());
    }
    r.object.insert(QStringLiteral("recordId"), static_cast<qint64>(run->id));
    r.object.insert(QStringLiteral("certificate"), qs(run->certificate));
    r.object.insert(QStringLiteral("serial"), qs(run->unit.serial));
    r.object.insert(QStringLiteral("trial"), run->trial);
    r.object.insert(QStringLiteral("files"), files);
    const QJsonObject json = QJsonDocument::fromJson(rec::toJson(*run)).object();
    r.object.insert(QStringLiteral("result"), json.value(QStringLiteral("result")));
    return r;
}

} // namespace vx::cli
