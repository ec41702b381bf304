// Renders the calibration records for scripts/screenshots.sh: a history of sample records (errors as the
// simulator's unit 2207 has them before its calibration, small ones after), the history and record
// windows, and one certificate as PDF in the language given.
//   vx_records_tour OUTPUT_FOLDER english|magyar
#include "app/Main.h"
#include "app/records/RecordsWindow.h"
#include "scripts/tour.h"
#include "sim/unit.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

namespace rec = vx::records;

namespace {

rec::Run sample(const std::string& serial, std::uint32_t seed) {
    const vx::sim::Unit unit = vx::sim::Unit::fromSeed(seed);
    rec::Run run;
    run.unit = {serial, "VX2207 V", "V2014-10-06", "2026-12-09", 4 * 60 + 12, 26.3, 21.8, 31.4};
    run.engineer = "Szabó Anna";
    run.ambient = 23.2;
    run.references = {{"Keysight 34465A", "MY5702211", "NMH-2026/0415", "2027-06-30"},
                      {"Fluke 5522A", "4471020", "NMH-2026/0388", "2027-03-31"}};
    for (rec::Phase phase : {rec::Phase::AsFound, rec::Phase::AsLeft}) {
        const bool found = phase == rec::Phase::AsFound;
        for (const rec::CheckPoint& c : rec::outputPlan(100, 4, 20)) {
            const double meter = found ? unit.current.at(c.nominal / vx::sim::kNominalFullScaleMa * 65535)
                                       : c.nominal + 0.0004 * (c.percent - 50) / 50;
            run.points.push_back(rec::makePoint(phase, c, meter, c.nominal, {}, run.rule));
        }
        for (const rec::CheckPoint& c : rec::inputPlan(100, 4, 20)) {
            const double reading = found ? unit.inputCounts(c.range, c.nominal) / vx::sim::kNominalSpan * 20
                                         : c.nominal * 1.00002 + 0.0003;
            run.points.push_back(rec::makePoint(phase, c, c.nominal, reading, {}, run.rule));
        }
    }
    run.constants = {
        {rec::StoredConstants::Kind::Output, {10391, 54120, 10577, 53342}, "2026-12-09T09:41:07.215Z"}};
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vx_records_tour OUTPUT_FOLDER english|magyar\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString language = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir work;
    const QString settings = languageSettings(work, language.toUtf8());
    if (settings.isEmpty()) return 1;
    TForm_Main::Options o;
    o.settingsPath = settings;
    o.arguments = QStringList{"/QARNEL"};
    TForm_Main w(o);
    w.FormCreate();
    w.FormActivate();
    w.Records->setPaths(work.filePath("history.sqlite"), work.filePath("profile.ini"), work.filePath("out"));

    vx::app::records::RecordsWindow* record = w.Records->showRun();
    if (!record) return 1;
    rec::Run certificate;
    std::uint32_t seed = 2207;
    for (const char* serial : {"VX-1507-0042", "VX-1507-0043", "VX-1511-0007", "VX-1507-0042"}) {
        rec::Run run = sample(serial, seed++);
        if (!w.Records->history().save(run, "2026-12-09")) return 1;
        certificate = run;
    }
    const rec::Language lang =
        language == QLatin1String("english") ? rec::Language::English : rec::Language::Hungarian;
    if (!rec::writePdf(certificate, lang, out + "/certificate-" + language + ".pdf").isEmpty()) return 1;

    record->Edit_Serial->setText("VX-1507-0044");
    record->Edit_Engineer->setText(QString::fromUtf8("Szabó Anna"));
    record->Edit_Ambient->setText("23,2");
    record->Button_AddReference->click();
    const char* reference[] = {"Keysight 34465A", "MY5702211", "NMH-2026/0415", "2027-06-30"};
    for (int c = 0; c < 4; ++c)
        record->Table_References->item(0, c)->setText(QString::fromUtf8(reference[c]));
    record->Table_References->setCurrentItem(nullptr);
    vx::app::records::HistoryWindow* history = w.Records->showHistory();
    history->refresh();
    history->Tree_Runs->setCurrentItem(history->Tree_Runs->topLevelItem(0)->child(0));
    for (int i = 0; i < 10; ++i)
        app.processEvents();
    record->grab().save(out + "/records-run-" + language + ".png");
    history->grab().save(out + "/records-history-" + language + ".png");
    std::printf("%s\n", qPrintable(out + "/certificate-" + language + ".pdf"));
    return 0;
}
