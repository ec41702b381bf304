// The calibration history file and the certificates made from it.
#include "recordfixture.h"
#include "records/certificatepdf.h"
#include "records/history.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <csignal>

using namespace vx::records;

namespace {
const std::string kToday = "2026-12-09";

struct HistoryFile : ::testing::Test {
    QTemporaryDir dir;
    // A child process of a death test must find the parent's file: the path travels in the environment.
    QString path = qEnvironmentVariableIsSet("VX_TEST_HISTORY") ? qEnvironmentVariable("VX_TEST_HISTORY")
                                                                : dir.filePath("history.sqlite");
    // Runs SQL on the file through a connection of its own, as any other program could.
    QString sql(const QString& statement) {
        QString error;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
            db.setDatabaseName(path);
            QSqlQuery q(db);
            if (!db.open() || !q.exec(statement)) error = q.lastError().text() + db.lastError().text();
            if (q.next()) error = q.value(0).toString();
        }
        QSqlDatabase::removeDatabase("raw");
        return error;
    }
};

QString pdfText(const QString& pdf) {
    QProcess p;
    p.start("pdftotext", {"-layout", pdf, "-"});
    EXPECT_TRUE(p.waitForFinished(20000)) << "pdftotext (poppler-utils) is needed";
    return QString::fromUtf8(p.readAllStandardOutput());
}
} // namespace

TEST_F(HistoryFile, AKilledSaveLeavesNoRecord) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    qputenv("VX_TEST_HISTORY", path.toUtf8());
    EXPECT_EXIT(
        {
            History h;
            vx::records::Run run = sampleRecord();
            if (h.open(path)) {
                h.beforeCommit = [] { std::raise(SIGKILL); };
                h.save(run, kToday);
            }
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGKILL), "");
    qunsetenv("VX_TEST_HISTORY");
    History h;
    ASSERT_TRUE(h.open(path)) << h.error().toStdString();
    EXPECT_TRUE(h.find().empty());
    EXPECT_EQ(sql("SELECT count(*) FROM points"), "0");
    vx::records::Run run = sampleRecord();
    EXPECT_TRUE(h.save(run, kToday)) << h.error().toStdString(); // nothing left locked
}

TEST_F(HistoryFile, IssuedRecordsNeverChange) {
    History h;
    ASSERT_TRUE(h.open(path)) << h.error().toStdString();
    vx::records::Run run = sampleRecord();
    ASSERT_TRUE(h.save(run, kToday)) << h.error().toStdString();
    EXPECT_EQ(h.load(run.id), run);
    EXPECT_FALSE(h.save(run, kToday)); // it has an id: saving again would overwrite
    for (const char* change :
         {"UPDATE runs SET engineer = 'x'", "DELETE FROM runs", "UPDATE points SET verdict = 'pass'",
          "DELETE FROM points", "INSERT INTO points(run_id, verdict) VALUES(1, 'pass')",
          "UPDATE constants SET vals = '1'", "DELETE FROM run_references"})
        EXPECT_TRUE(sql(change).contains("never changed")) << change;
    EXPECT_EQ(h.load(run.id), run);

    // A correction is a record of its own that names the one it replaces.
    vx::records::Run fix = sampleRecord();
    fix.replaces = run.id;
    ASSERT_TRUE(h.save(fix, kToday));
    EXPECT_NE(fix.certificate, run.certificate);
    EXPECT_EQ(h.find("2207-00").size(), 2u);
    EXPECT_EQ(h.find("sn-2207", "2000-01-01", "2000-12-31").size(), 0u);
    fix = sampleRecord();
    fix.replaces = 999;
    EXPECT_FALSE(h.save(fix, kToday));

    // An overdue reference makes no certificate, but may serve a trial run.
    vx::records::Run late = sampleRecord("SN-LATE");
    late.references[0].dueDate = "2026-12-08";
    EXPECT_FALSE(h.save(late, kToday));
    EXPECT_TRUE(h.error().contains("DMM-77"));
    late.trial = true;
    EXPECT_TRUE(h.save(late, kToday));
    EXPECT_TRUE(h.find("SN-LATE").at(0).trial);
}

TEST_F(HistoryFile, OlderFormatOpensNewerIsLeftAlone) {
    // The first format: no corrections, trial runs or stored constants.
    for (const char* s :
         {"CREATE TABLE runs(id INTEGER PRIMARY KEY, certificate TEXT UNIQUE, created TEXT NOT NULL,"
          " serial TEXT NOT NULL, variant TEXT, firmware TEXT, calibration_date TEXT,"
          " working_minutes INTEGER, temperature REAL, temperature_min REAL, temperature_max REAL,"
          " engineer TEXT, ambient REAL, rule TEXT NOT NULL, sealed INTEGER NOT NULL DEFAULT 0)",
          "CREATE TABLE run_references(run_id INTEGER, position INTEGER, model TEXT, serial TEXT,"
          " certificate TEXT, due_date TEXT)",
          "CREATE TABLE points(run_id INTEGER, position INTEGER, phase TEXT, quantity TEXT, range INTEGER,"
          " percent INTEGER, nominal REAL, span REAL, unit TEXT, reference REAL, instrument REAL,"
          " error REAL, acceptance REAL, verdict TEXT)",
          "INSERT INTO runs VALUES(7, 'VX-20250101-000007', '2025-01-01T10:00:00Z', 'OLD-1', 'VX2207 M',"
          " 'V2014-10-06', '', 60, NULL, NULL, NULL, 'Nagy Péter', 22.5, 'simple', 1)",
          "INSERT INTO points VALUES(7, 0, 'as_left', 'input_ma', 6, 100, 20, 50, 'mA', 20, 20.001,"
          " 0.002, 0.05, 'pass')",
          "PRAGMA user_version = 1"})
        ASSERT_EQ(sql(s), "") << s;
    History h;
    ASSERT_TRUE(h.open(path)) << h.error().toStdString();
    const auto old = h.load(7);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->engineer, "Nagy Péter");
    ASSERT_EQ(old->points.size(), 1u);
    EXPECT_EQ(old->points[0].result.verdict, Verdict::Pass);
    EXPECT_EQ(sql("PRAGMA user_version"), "2");
    EXPECT_TRUE(sql("UPDATE runs SET engineer = 'x'").contains("never changed"));

    History newer;
    ASSERT_EQ(sql("PRAGMA user_version = 9"), "");
    EXPECT_FALSE(newer.open(path));
    EXPECT_EQ(sql("PRAGMA user_version"), "9");
}

TEST_F(HistoryFile, CertificateJsonAndCsv) {
    // Files for machines keep their full stops on a Hungarian desktop.
    ASSERT_TRUE(std::setlocale(LC_ALL, "hu_HU.UTF-8"));
    History h;
    ASSERT_TRUE(h.open(path));
    vx::records::Run run = sampleRecord();
    run.points[1].result.verdict = Verdict::Fail; // one as-left point failed
    ASSERT_TRUE(h.save(run, kToday));
    ASSERT_EQ(exportRun(run, Language::English, dir.filePath("out"), writePdf), "");
    const QString base = dir.filePath("out/" + QString::fromStdString(run.certificate));

    const QString en = pdfText(base + ".pdf");
    for (const char* text :
         {"SN-2207-0042", "Kovács Éva", "DMM-77", "2099-01-31", "Simple acceptance", "Signature", "FAIL"})
        EXPECT_TRUE(en.contains(QString::fromUtf8(text))) << text;
    ASSERT_EQ(writePdf(run, Language::Hungarian, base + "-hu.pdf"), "");
    const QString hu = pdfText(base + "-hu.pdf");
    EXPECT_TRUE(hu.contains("NEM FELELT MEG") && hu.contains("Aláírás"));
    for (const Point& p : run.points) {
        if (p.phase != Phase::AsLeft) continue;
        // Every as-left point with its error, in each language's own decimal separator.
        EXPECT_TRUE(en.contains(QString::number(p.result.errorPercent, 'f', 4))) << p.result.errorPercent;
        EXPECT_TRUE(hu.contains(QString::number(p.result.errorPercent, 'f', 4).replace('.', ',')));
    }
    // Every page says which certificate it belongs to, and which page of how many it is.
    for (const auto& [text, pageOf] : {std::pair{en, QRegularExpression("Page (\\d+) of (\\d+)")},
                                       std::pair{hu, QRegularExpression("(\\d+)\\. oldal / (\\d+)")}}) {
        const int pages = pageOf.match(text).captured(2).toInt();
        EXPECT_GE(pages, 1);
        EXPECT_EQ(text.count(pageOf), pages);
        EXPECT_EQ(text.count(QString::fromStdString(run.certificate)), pages + 1); // and once in the table
    }

    QFile json(base + ".json");
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(json.readAll()).object();
    EXPECT_EQ(o["version"].toInt(), kJsonVersion);
    EXPECT_EQ(o["certificate"].toString().toStdString(), run.certificate);
    EXPECT_EQ(o["result"].toObject()["as_found"].toString(), "fail");
    EXPECT_EQ(o["result"].toObject()["as_left"].toString(), "fail");
    EXPECT_EQ(o["points"].toArray().size(), 10);

    QFile csv(base + ".csv");
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    EXPECT_EQ(rows.size(), 12); // header, ten points, the empty end
    EXPECT_TRUE(rows[2].contains(",as_left,output_current,,0,4,mA,16,4,4,0,0.1,fail"));
    std::setlocale(LC_ALL, "C");
}
