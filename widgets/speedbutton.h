#pragma once
// TSpeedButton: a flat-faced button that can stay down. Buttons sharing a non-zero GroupIndex under the
// same parent form an exclusive group: pressing one releases the others. Without AllowAllUp the button
// that is down stays down when clicked again; with it, a second click releases it. GroupIndex 0 makes a
// plain push button that never stays down. Tab reaches it; Space or Enter clicks it.
#include <QToolButton>

class TSpeedButton : public QToolButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget* parent = nullptr);

    int GroupIndex() const { return groupIndex_; }
    void setGroupIndex(int index);
    bool AllowAllUp() const { return allowAllUp_; }
    void setAllowAllUp(bool allow) { allowAllUp_ = allow; }

    // Down is the button's latched state (the toolkit's checked state). Setting it from code releases the
    // group's other buttons and, like the user's click, never releases the last button of a group that
    // does not allow all up. It does not raise clicked().
    // This hides QAbstractButton::setDown (the transient pressed look), which a speed button never needs.
    bool Down() const { return isChecked(); }
    void setDown(bool down);

protected:
    void nextCheckState() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int groupIndex_ = 0;
    bool allowAllUp_ = false;
};
