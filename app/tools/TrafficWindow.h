#pragma once
// The traffic monitor: the link's last attempts from the ring, newest at the bottom, optionally only the
// failed ones; the selected one's request and reply taken apart by field and shown in hex.
#include "app/tools/Traffic.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <cstdint>
#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace vx::app::tools {

class ToolWindows;

// The ring's exchanges as rows, by their numbers: new ones are appended and the ones that left the ring
// removed from the top, so the selection and the scroll position survive the traffic.
class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        ColNumber,
        ColTime,
        ColAttempt,
        ColAddress,
        ColFunction,
        ColOutcome,
        ColRequest,
        ColReply,
        ColRoundTrip,
        ColumnCount
    };

    TrafficModel(const TrafficRing& ring, ToolWindows& tools, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    void setFailuresOnly(bool on);
    bool failuresOnly() const { return failuresOnly_; }
    // Takes in what came since the last call; drops what the ring no longer holds.
    void update();
    void retranslate();
    const RecordedExchange* exchangeAt(int row) const;
    // The row that shows exchange `number`; -1 when the filter hides it or the ring no longer holds it.
    int rowOf(std::uint64_t number) const;

private:
    void rebuild();

    const TrafficRing& ring_;
    ToolWindows& tools_;
    std::vector<std::uint64_t> rows_;
    std::uint64_t seen_ = 0; // numbers below this were looked at
    bool failuresOnly_ = false;
};

class TrafficWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrafficWindow(ToolWindows& tools);

    TrafficModel* model() const { return model_; }
    // The selected exchange's decoded fields and frames, as shown beside the table.
    QString detailText() const;
    // Writes the rows shown (the filter applies) to a text file; returns an error text, empty on success.
    QString saveTo(const QString& path) const;
    void selectRow(int row);
    // The table follows the newest exchange until the engineer picks one, and again once they scroll
    // back to the end.
    bool following() const { return follow_; }

    QTableView* Table_Exchanges = nullptr;
    QPlainTextEdit* Memo_Detail = nullptr;
    QPushButton *Button_Pause = nullptr, *Button_Clear = nullptr, *Button_Save = nullptr;
    QCheckBox* CheckBox_FailuresOnly = nullptr;
    QLabel* Label_Count = nullptr;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void applyTexts();
    void update();
    void showDetail();
    void saveAsked();

    ToolWindows& tools_;
    TrafficModel* model_ = nullptr;
    QTimer* timer_ = nullptr;
    bool follow_ = true;
    bool updating_ = false; // our own scrolling is not the engineer's
};

} // namespace vx::app::tools
