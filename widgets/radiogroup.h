#pragma once
// TRadioGroup: a captioned box of mutually exclusive items in one column. ItemIndex is -1 when nothing is
// selected (always so right after the items are cleared). Setting ItemIndex from code clamps it to the
// items and raises clicked() whenever the selection changes to an item, exactly as a user's click does,
// so handlers that follow the selection stay in step with code that sets it.
#include <QGroupBox>
#include <QStringList>
#include <vector>

class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TRadioGroup(QWidget* parent = nullptr);

    QStringList Items() const;
    void setItems(const QStringList& items);
    void addItem(const QString& text);
    void clearItems();
    int itemCount() const { return static_cast<int>(buttons_.size()); }

    int ItemIndex() const { return itemIndex_; }
    void setItemIndex(int index);

    // The radio button of an item, for tests that click like a user.
    QRadioButton* button(int index) const;

signals:
    void clicked();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeButtons();
    void onButtonToggled(QRadioButton* button, bool checked);

    std::vector<QRadioButton*> buttons_;
    std::vector<QRadioButton*> spare_; // hidden, from items cleared, reused in order
    int itemIndex_ = -1;
    bool settingFromCode_ = false;
};
