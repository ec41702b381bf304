// The calibration windows without an instrument: offered in the maker mode only, no check before a
// reply, and a correction from the history that names the record it replaces.
#include "app/Main.h"
#include "app/records/RecordsWindow.h"
#include "recordfixture.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

TEST(RecordsWindows, MakerModeCheckAndCorrection) {
    QTemporaryDir dir;
    const auto window = [&](QStringList args) {
        TForm_Main::Options o;
        o.settingsPath = dir.filePath("vx.ini");
        o.arguments = std::move(args);
        auto w = std::make_unique<TForm_Main>(std::move(o));
        w->FormActivate();
        w->Records->setPaths(dir.filePath("h.sqlite"), dir.filePath("p.ini"), dir.filePath("out"));
        return w;
    };
    EXPECT_FALSE(window({})->Records->Menu_Calibration->menuAction()->isVisible());
    const auto w = window({"/QARNEL"});
    EXPECT_TRUE(w->Records->Menu_Calibration->menuAction()->isVisible());

    vx::app::records::RecordsWindow* r = w->Records->showRun();
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->startVerify(true).isEmpty()); // no reply yet: nothing to drive
    EXPECT_FALSE(r->procedure().running());
    EXPECT_FALSE(r->saveRecord().isEmpty()); // nothing checked

    vx::records::Run saved = sampleRecord();
    ASSERT_TRUE(w->Records->history().save(saved, "2026-12-09"));
    vx::app::records::HistoryWindow* h = w->Records->showHistory();
    h->Edit_SearchSerial->setText("0042");
    h->Button_Search->click();
    ASSERT_EQ(h->Tree_Runs->topLevelItemCount(), 1);
    EXPECT_FALSE(h->exportSelected().contains(QString::fromStdString(saved.certificate))); // none chosen
    h->Tree_Runs->setCurrentItem(h->Tree_Runs->topLevelItem(0)->child(0));
    h->Button_Correct->click();
    EXPECT_EQ(r->run().replaces, saved.id);
    EXPECT_EQ(r->Edit_Serial->text().toStdString(), saved.unit.serial);
    h->Edit_From->setText("2099-01-01");
    h->Button_Search->click();
    EXPECT_EQ(h->Tree_Runs->topLevelItemCount(), 0);
}
