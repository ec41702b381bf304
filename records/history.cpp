#include "records/history.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <atomic>

namespace vx::records {
namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
std::string s(const QVariant& v) {
    return v.toString().toStdString();
}
QVariant opt(const std::optional<double>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Double));
}
std::optional<double> optOf(const QVariant& v) {
    if (v.isNull()) return std::nullopt;
    return v.toDouble();
}

// Tables of format 2. Every table of a record refuses changes once its run is sealed.
const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS runs(id INTEGER PRIMARY KEY, certificate TEXT UNIQUE, created TEXT NOT NULL,"
    " serial TEXT NOT NULL, variant TEXT, firmware TEXT, calibration_date TEXT, working_minutes INTEGER,"
    " temperature REAL, temperature_min REAL, temperature_max REAL, engineer TEXT, ambient REAL,"
    " rule TEXT NOT NULL, sealed INTEGER NOT NULL DEFAULT 0, replaces INTEGER REFERENCES runs(id),"
    " trial INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS runs_serial ON runs(serial, created)",
    "CREATE TABLE IF NOT EXISTS run_references(run_id INTEGER NOT NULL REFERENCES runs(id), position INTEGER,"
    " model TEXT, serial TEXT, certificate TEXT, due_date TEXT)",
    "CREATE TABLE IF NOT EXISTS points(run_id INTEGER NOT NULL REFERENCES runs(id), position INTEGER,"
    " phase TEXT, quantity TEXT, range INTEGER, percent INTEGER, nominal REAL, span REAL, unit TEXT,"
    " reference REAL, instrument REAL, error REAL, acceptance REAL, verdict TEXT)",
    "CREATE INDEX IF NOT EXISTS points_run ON points(run_id)",
    "CREATE TABLE IF NOT EXISTS constants(run_id INTEGER NOT NULL REFERENCES runs(id), position INTEGER,"
    " kind TEXT, vals TEXT, acknowledged TEXT)",
    "CREATE TABLE IF NOT EXISTS reference_list(position INTEGER, model TEXT, serial TEXT, certificate TEXT,"
    " due_date TEXT)",
    "CREATE TRIGGER IF NOT EXISTS runs_sealed_update BEFORE UPDATE ON runs WHEN OLD.sealed <> 0"
    " BEGIN SELECT RAISE(ABORT, 'an issued record is never changed'); END",
    "CREATE TRIGGER IF NOT EXISTS runs_sealed_delete BEFORE DELETE ON runs WHEN OLD.sealed <> 0"
    " BEGIN SELECT RAISE(ABORT, 'an issued record is never changed'); END",
};
const char* const kRecordTables[] = {"run_references", "points", "constants"};

std::atomic<int> connections{0};

} // namespace

History::History() : name_(QStringLiteral("vx.records.%1").arg(connections++)) {}

History::~History() {
    if (QSqlDatabase::contains(name_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
}

QString History::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/calibration-history.sqlite");
}

bool History::fail(const QString& what) {
    error_ = what;
    return false;
}

bool History::exec(const QString& sql) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (query.exec(sql)) return true;
    return fail(query.lastError().text());
}

bool History::open(const QString& path) {
    open_ = false;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return fail(QStringLiteral("The SQLite driver of Qt SQL is not installed (libqt6sql6-sqlite)."));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSqlDatabase db = QSqlDatabase::contains(name_)
                          ? QSqlDatabase::database(name_, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.close();
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) return fail(db.lastError().text());
    if (!exec(QStringLiteral("PRAGMA foreign_keys = ON")) || !migrate()) {
        db.close();
        return false;
    }
    open_ = true;
    return true;
}

bool History::migrate() {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return fail(QStringLiteral("Not a calibration history file."));
    const int version = query.value(0).toInt();
    query.finish();
    if (version > kHistoryFormat)
        return fail(QStringLiteral("The history file comes from a newer program (format %1).").arg(version));
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (!db.transaction()) return fail(db.lastError().text());
    bool ok = true;
    if (version == 1) {
        // Format 1 had no corrections, trial runs or stored constants; its records stay as they were.
        ok = exec(QStringLiteral("ALTER TABLE runs ADD COLUMN replaces INTEGER REFERENCES runs(id)")) &&
             exec(QStringLiteral("ALTER TABLE runs ADD COLUMN trial INTEGER NOT NULL DEFAULT 0"));
    }
    for (const char* sql : kSchema)
        ok = ok && exec(QString::fromLatin1(sql));
    for (const char* table : kRecordTables)
        for (const char* op : {"INSERT", "UPDATE", "DELETE"}) {
            const char* row = std::string_view(op) == "INSERT" ? "NEW" : "OLD";
            ok = ok && exec(QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1_sealed_%2 BEFORE %3 ON %1 WHEN"
                                           " (SELECT sealed FROM runs WHERE id = %4.run_id) IS NOT 0 BEGIN"
                                           " SELECT RAISE(ABORT, 'an issued record is never changed'); END")
                                .arg(QLatin1String(table), QString::fromLatin1(op).toLower(),
                                     QLatin1String(op), QLatin1String(row)));
        }
    ok = ok && exec(QStringLiteral("PRAGMA user_version = %1").arg(kHistoryFormat));
    if (!ok) {
        const QString why = error_;
        db.rollback();
        return fail(why);
    }
    return db.commit() || fail(db.lastError().text());
}

bool History::save(Run& run, const std::string& today) {
    if (!open_) return fail(QStringLiteral("The history is not open."));
    if (run.id != 0) return fail(QStringLiteral("An issued record is never changed; save a correction."));
    if (run.unit.serial.empty()) return fail(QStringLiteral("The unit's serial number is missing."));
    if (const std::string why = run.certificateRefusal(today); !why.empty()) return fail(q(why));
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (!db.transaction()) return fail(db.lastError().text());
    QSqlQuery query(db);
    const auto run_ = [&](bool prepared) {
        if (prepared && query.exec()) return true;
        return fail(query.lastError().text());
    };
    bool ok = true;
    if (run.replaces) {
        query.prepare(QStringLiteral("SELECT count(*) FROM runs WHERE id = ? AND sealed <> 0"));
        query.addBindValue(QVariant::fromValue(*run.replaces));
        ok = run_(true) && query.next();
        if (ok && query.value(0).toInt() == 0)
            ok = fail(QStringLiteral("The record it replaces does not exist."));
    }
    const QString created =
        run.created.empty() ? QDateTime::currentDateTimeUtc().toString(Qt::ISODate) : q(run.created);
    if (ok) {
        const UnitInfo& u = run.unit;
        query.prepare(
            QStringLiteral("INSERT INTO runs(created, serial, variant, firmware, calibration_date, "
                           "working_minutes, temperature,"
                           " temperature_min, temperature_max, engineer, ambient, rule, replaces, trial)"
                           " VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
        for (const QVariant& v :
             {QVariant(created), QVariant(q(u.serial)), QVariant(q(u.variant)), QVariant(q(u.firmware)),
              QVariant(q(u.calibrationDate)), QVariant(static_cast<qint64>(u.workingMinutes)),
              opt(u.temperature), opt(u.temperatureMin), opt(u.temperatureMax), QVariant(q(run.engineer)),
              opt(run.ambient), QVariant(q(ruleText(run.rule))),
              run.replaces ? QVariant::fromValue(*run.replaces) : QVariant(QMetaType(QMetaType::LongLong)),
              QVariant(run.trial ? 1 : 0)})
            query.addBindValue(v);
        ok = run_(true);
    }
    const std::int64_t id = ok ? query.lastInsertId().toLongLong() : 0;
    for (std::size_t i = 0; ok && i < run.references.size(); ++i) {
        const Reference& r = run.references[i];
        query.prepare(QStringLiteral("INSERT INTO run_references VALUES(?,?,?,?,?,?)"));
        for (const QVariant& v : {QVariant::fromValue(id), QVariant::fromValue(i), QVariant(q(r.model)),
                                  QVariant(q(r.serial)), QVariant(q(r.certificate)), QVariant(q(r.dueDate))})
            query.addBindValue(v);
        ok = run_(true);
    }
    for (std::size_t i = 0; ok && i < run.points.size(); ++i) {
        const Point& p = run.points[i];
        query.prepare(QStringLiteral("INSERT INTO points VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
        for (const QVariant& v :
             {QVariant::fromValue(id), QVariant::fromValue(i), QVariant(q(std::string(phaseKey(p.phase)))),
              QVariant(q(std::string(quantityKey(p.check.quantity)))), QVariant(p.check.range),
              QVariant(p.check.percent), QVariant(p.check.nominal), QVariant(p.check.span),
              QVariant(q(p.check.unit)), QVariant(p.reference), QVariant(p.instrument),
              QVariant(p.result.errorPercent), QVariant(p.result.limit),
              QVariant(q(std::string(verdictKey(p.result.verdict))))})
            query.addBindValue(v);
        ok = run_(true);
    }
    for (std::size_t i = 0; ok && i < run.constants.size(); ++i) {
        const StoredConstants& c = run.constants[i];
        QStringList values;
        for (std::int64_t v : c.values)
            values << QString::number(v);
        query.prepare(QStringLiteral("INSERT INTO constants VALUES(?,?,?,?,?)"));
        for (const QVariant& v : {QVariant::fromValue(id), QVariant::fromValue(i),
                                  QVariant(c.kind == StoredConstants::Kind::Output ? "output" : "input"),
                                  QVariant(values.join(',')), QVariant(q(c.acknowledged))})
            query.addBindValue(v);
        ok = run_(true);
    }
    // The number carries the date and the record's own id, so no two records share one.
    const QString certificate =
        QStringLiteral("VX-%1-%2").arg(created.left(10).remove('-')).arg(id, 6, 10, QLatin1Char('0'));
    if (ok) {
        query.prepare(QStringLiteral("UPDATE runs SET certificate = ?, sealed = 1 WHERE id = ?"));
        query.addBindValue(certificate);
        query.addBindValue(QVariant::fromValue(id));
        ok = run_(true);
    }
    if (ok && beforeCommit) beforeCommit();
    if (!ok || !db.commit()) {
        const QString why = ok ? db.lastError().text() : error_;
        db.rollback();
        return fail(why);
    }
    run.id = id;
    run.certificate = certificate.toStdString();
    run.created = created.toStdString();
    return true;
}

std::optional<Run> History::load(std::int64_t id) {
    if (!open_) return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(name_, false));
    query.prepare(QStringLiteral("SELECT certificate, replaces, created, trial, serial, variant, firmware, "
                                 "calibration_date, working_minutes,"
                                 " temperature, temperature_min, temperature_max, engineer, ambient, rule "
                                 "FROM runs WHERE id = ? AND sealed <> 0"));
    query.addBindValue(QVariant::fromValue(id));
    if (!query.exec() || !query.next()) return std::nullopt;
    Run run;
    run.id = id;
    run.certificate = s(query.value(0));
    if (!query.value(1).isNull()) run.replaces = query.value(1).toLongLong();
    run.created = s(query.value(2));
    run.trial = query.value(3).toInt() != 0;
    run.unit = {s(query.value(4)),      s(query.value(5)),       s(query.value(6)),
                s(query.value(7)),      query.value(8).toUInt(), optOf(query.value(9)),
                optOf(query.value(10)), optOf(query.value(11))};
    run.engineer = s(query.value(12));
    run.ambient = optOf(query.value(13));
    run.rule = parseRule(s(query.value(14))).value_or(DecisionRule{});

    query.prepare(
        QStringLiteral("SELECT model, serial, certificate, due_date FROM run_references WHERE run_id = ?"
                       " ORDER BY position"));
    query.addBindValue(QVariant::fromValue(id));
    if (!query.exec()) return std::nullopt;
    while (query.next())
        run.references.push_back(
            {s(query.value(0)), s(query.value(1)), s(query.value(2)), s(query.value(3))});

    query.prepare(
        QStringLiteral("SELECT phase, quantity, range, percent, nominal, span, unit, reference, instrument,"
                       " error, acceptance, verdict FROM points WHERE run_id = ? ORDER BY position"));
    query.addBindValue(QVariant::fromValue(id));
    if (!query.exec()) return std::nullopt;
    while (query.next()) {
        Point p;
        p.phase = s(query.value(0)) == "as_left" ? Phase::AsLeft : Phase::AsFound;
        p.check = {quantityFromKey(s(query.value(1))).value_or(Quantity::OutputCurrent),
                   query.value(2).toInt(),
                   query.value(3).toInt(),
                   query.value(4).toDouble(),
                   query.value(5).toDouble(),
                   s(query.value(6))};
        p.reference = query.value(7).toDouble();
        p.instrument = query.value(8).toDouble();
        p.result = {query.value(9).toDouble(), query.value(10).toDouble(),
                    verdictFromKey(s(query.value(11))).value_or(Verdict::Invalid)};
        run.points.push_back(p);
    }

    query.prepare(
        QStringLiteral("SELECT kind, vals, acknowledged FROM constants WHERE run_id = ? ORDER BY position"));
    query.addBindValue(QVariant::fromValue(id));
    if (query.exec()) // format 1 had no constants
        while (query.next()) {
            StoredConstants c;
            c.kind = query.value(0).toString() == QLatin1String("input") ? StoredConstants::Kind::Input
                                                                         : StoredConstants::Kind::Output;
            for (const QString& v : query.value(1).toString().split(',', Qt::SkipEmptyParts))
                c.values.push_back(v.toLongLong());
            c.acknowledged = s(query.value(2));
            run.constants.push_back(c);
        }
    return run;
}

std::vector<RunSummary> History::find(const QString& serial, const QString& from, const QString& to) {
    std::vector<RunSummary> out;
    if (!open_) return out;
    QSqlQuery query(QSqlDatabase::database(name_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT r.id, r.certificate, r.serial, r.created, r.engineer, r.trial, r.replaces,"
        " (SELECT count(*) FROM points p WHERE p.run_id = r.id),"
        " (SELECT count(*) FROM points p WHERE p.run_id = r.id AND p.verdict <> 'pass')"
        " FROM runs r WHERE r.sealed <> 0 AND instr(lower(r.serial), lower(?)) > 0"
        " AND (? = '' OR substr(r.created, 1, 10) >= ?) AND (? = '' OR substr(r.created, 1, 10) <= ?)"
        " ORDER BY r.created DESC, r.id DESC"));
    for (const QString& v : {serial, from, from, to, to})
        query.addBindValue(v.isNull() ? QString(QLatin1String("")) : v);
    if (!query.exec()) return out;
    while (query.next())
        out.push_back({query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString(),
                       query.value(3).toString(), query.value(4).toString(), query.value(5).toInt() != 0,
                       query.value(6).isNull() ? std::nullopt : std::optional(query.value(6).toLongLong()),
                       query.value(7).toInt(), query.value(8).toInt()});
    return out;
}

std::vector<Reference> History::references() {
    std::vector<Reference> out;
    if (!open_) return out;
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (!query.exec(QStringLiteral(
            "SELECT model, serial, certificate, due_date FROM reference_list ORDER BY position")))
        return out;
    while (query.next())
        out.push_back({s(query.value(0)), s(query.value(1)), s(query.value(2)), s(query.value(3))});
    return out;
}

bool History::setReferences(const std::vector<Reference>& list) {
    if (!open_) return fail(QStringLiteral("The history is not open."));
    QSqlDatabase db = QSqlDatabase::database(name_, false);
    if (!db.transaction()) return fail(db.lastError().text());
    bool ok = exec(QStringLiteral("DELETE FROM reference_list"));
    QSqlQuery query(db);
    for (std::size_t i = 0; ok && i < list.size(); ++i) {
        query.prepare(QStringLiteral("INSERT INTO reference_list VALUES(?,?,?,?,?)"));
        for (const QVariant& v :
             {QVariant::fromValue(i), QVariant(q(list[i].model)), QVariant(q(list[i].serial)),
              QVariant(q(list[i].certificate)), QVariant(q(list[i].dueDate))})
            query.addBindValue(v);
        ok = query.exec() || fail(query.lastError().text());
    }
    if (!ok || !db.commit()) {
        db.rollback();
        return false;
    }
    return true;
}

} // namespace vx::records
