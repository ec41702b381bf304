#include "widgets/speedbutton.h"

#include <QKeyEvent>

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    // Reached with Tab, but a mouse click leaves the focus where it was (an edit being typed in keeps
    // it), as a speed button always has.
    setFocusPolicy(Qt::TabFocus);
}

void TSpeedButton::keyPressEvent(QKeyEvent* event) {
    // Space is the toolkit's; Enter does the same here, as on a push button.
    const int key = event->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat()) click();
        return;
    }
    QToolButton::keyPressEvent(event);
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
