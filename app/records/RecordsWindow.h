#pragma once
// Calibration records on the window (maker mode only): the run window, where the engineer names the
// unit, himself, the references and the room, runs the as-found and as-left checks and saves the
// record with its certificate; and the history window, which finds saved records and exports them
// again. Both reach the instrument only as the service pages do: through the output check page's
// percentage and the test page's range forcing, read back from the replies the window shows.
#include "app/records/VerifyProcedure.h"
#include "app/texts/TextKey.h"
#include "records/certificatepdf.h"
#include "records/history.h"
#include "records/profile.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace vx::station {
class ScpiInstrument;
}

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;
class QTreeWidget;
class TForm_Main;

namespace vx::app::records {

class HistoryWindow;

class RecordsWindow : public QWidget {
    Q_OBJECT
public:
    RecordsWindow(TForm_Main& main, rec::History& history, const rec::Profile& profile,
                  const QString& exportFolder);

    // The record being made.
    const rec::Run& run() const { return run_; }
    const VerifyProcedure& procedure() const { return procedure_; }
    // Starts a check of the output or the input in the chosen phase. Returns an error text.
    QString startVerify(bool output);
    void stopVerify();
    // Saves the record and writes its certificate, JSON and CSV. Returns an error text.
    QString saveRecord();
    // Starts over with a correction of a saved record: the new one names it as the one it replaces.
    void correct(const rec::Run& saved);
    void applyTexts();
    const QString& exportFolder() const { return exportFolder_; }

    QLineEdit *Edit_Serial, *Edit_Engineer, *Edit_Ambient, *Edit_Reference;
    QCheckBox* CheckBox_Trial;
    QComboBox *ComboBox_Phase, *ComboBox_CertificateLanguage;
    QPushButton *Button_VerifyOutput, *Button_VerifyInput, *Button_RecordPoint, *Button_StopVerify,
        *Button_AddReference, *Button_RemoveReference, *Button_SaveRecord, *Button_NewRecord, *Button_History;
    QLabel *Label_Unit, *Label_Instruction, *Label_Status;
    QTableWidget *Table_References, *Table_Points;

signals:
    void historyAsked();
    void saved(std::int64_t id);

protected:
    // A check left running would keep the instrument's range forced.
    void closeEvent(QCloseEvent* event) override;

private:
    void replyShown();
    void recordPoint();
    void showCurrent();
    void addPoint(const rec::Point& p);
    void finishPoint(std::optional<rec::Point> p);
    void newRecord();
    void storeReferences();
    // The bench instruments when connected and not busy with a run of their own.
    station::ScpiInstrument* benchMeter() const;
    station::ScpiInstrument* benchSource() const;
    // Ticks the instrument's line in the references, adding it from its identity where missing.
    void nameReference(const station::ScpiInstrument& instrument);
    void loadReferences();
    QString inLanguage(Text key) const;

    TForm_Main& main_;
    rec::History& history_;
    rec::Profile profile_;
    QString exportFolder_;
    rec::Run run_;
    VerifyProcedure procedure_;
    SettledReading gate_;
    int repliesSinceDrive_ = 0;
    bool inputForced_ = false; // an input check has forced the range
    bool loadingReferences_ = false;
};

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(TForm_Main& main, rec::History& history, const QString& exportFolder);
    void refresh();
    // Exports the selected record (or the one named) to the folder. Returns an error text.
    QString exportSelected(const QString& folder = {});
    void applyTexts();

    QLineEdit *Edit_SearchSerial, *Edit_From, *Edit_To;
    QTreeWidget* Tree_Runs;
    QComboBox* ComboBox_CertificateLanguage;
    QPushButton *Button_Search, *Button_Export, *Button_Correct;
    QLabel* Label_Status;

signals:
    void correctionAsked(const rec::Run& run);

private:
    std::optional<std::int64_t> selected() const;
    QString inLanguage(Text key) const;

    TForm_Main& main_;
    rec::History& history_;
    QString exportFolder_;
};

// The entry on the main window: the "Calibration" menu (shown in maker mode only), the history file,
// the profile and the two windows, made when first opened.
class Records : public QObject {
    Q_OBJECT
public:
    explicit Records(TForm_Main& main);
    ~Records() override;
    // Before the first window opens: where the history file, the profile and the exports live.
    void setPaths(const QString& history, const QString& profile, const QString& exportFolder);
    RecordsWindow* showRun();
    HistoryWindow* showHistory();
    rec::History& history() { return history_; }

    QMenu* Menu_Calibration = nullptr;
    QAction *Action_Run = nullptr, *Action_History = nullptr;

private:
    bool ensureOpen();
    void applyTexts();

    TForm_Main& main_;
    rec::History history_;
    QString historyPath_, profilePath_, exportFolder_;
    QPointer<RecordsWindow> run_;
    QPointer<HistoryWindow> historyWindow_;
};

} // namespace vx::app::records
