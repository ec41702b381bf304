#include "widgets/speedbutton.h"

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    setFocusPolicy(Qt::NoFocus);
}

void TSpeedButton::setGroupIndex(int index) {
    groupIndex_ = index;
    setCheckable(index != 0);
    if (index == 0) setChecked(false);
}

void TSpeedButton::setDown(bool down) {
    if (groupIndex_ == 0 || down == isChecked()) return;
    if (!down) {
        if (allowAllUp_) setChecked(false);
        return;
    }
    setChecked(true);
    if (!parentWidget()) return;
    for (auto* other : parentWidget()->findChildren<TSpeedButton*>(Qt::FindDirectChildrenOnly))
        if (other != this && other->groupIndex_ == groupIndex_) other->setChecked(false);
}

void TSpeedButton::nextCheckState() {
    // Called by the toolkit on a user's click, before clicked() is emitted.
    if (groupIndex_ == 0) return;
    setDown(!isChecked());
}
