#include "widgets/radiogroup.h"

#include <QRadioButton>
#include <QSignalBlocker>
#include <algorithm>

namespace {

// An item answers to a click anywhere on its row, not only on the circle and the text.
class RowRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

} // namespace

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

QStringList TRadioGroup::Items() const {
    QStringList out;
    for (auto* b : buttons_)
        out << b->text();
    return out;
}

void TRadioGroup::setItems(const QStringList& items) {
    clearItems();
    for (const auto& s : items)
        addItem(s);
}

void TRadioGroup::addItem(const QString& text) {
    QRadioButton* b = nullptr;
    if (!spare_.empty()) {
        b = spare_.front();
        spare_.erase(spare_.begin());
        b->setText(text);
    } else {
        b = new RowRadioButton(text, this);
        // Exclusivity is kept by hand: the toolkit's auto-exclusive buttons cannot all be unchecked.
        b->setAutoExclusive(false);
        connect(b, &QRadioButton::toggled, this, [this, b](bool on) { onButtonToggled(b, on); });
    }
    buttons_.push_back(b);
    placeButtons();
    b->show();
}

void TRadioGroup::clearItems() {
    // The buttons are kept for the next items: a new one would join the keyboard's order at the
    // window's end instead of at the group's place.
    for (auto* b : buttons_) {
        const QSignalBlocker block(b);
        b->setChecked(false);
        b->hide();
        spare_.push_back(b);
    }
    buttons_.clear();
    itemIndex_ = -1;
}

QRadioButton* TRadioGroup::button(int index) const {
    return index >= 0 && index < itemCount() ? buttons_[static_cast<std::size_t>(index)] : nullptr;
}

void TRadioGroup::setItemIndex(int index) {
    index = std::clamp(index, -1, itemCount() - 1);
    if (index == itemIndex_) return;
    settingFromCode_ = true;
    if (auto* old = button(itemIndex_)) {
        const QSignalBlocker block(old);
        old->setChecked(false);
    }
    itemIndex_ = index;
    if (auto* now = button(index)) {
        const QSignalBlocker block(now);
        now->setChecked(true);
    }
    settingFromCode_ = false;
    if (index >= 0) emit clicked();
}

void TRadioGroup::onButtonToggled(QRadioButton* b, bool checked) {
    if (settingFromCode_) return;
    const auto it = std::find(buttons_.begin(), buttons_.end(), b);
    const int index = static_cast<int>(it - buttons_.begin());
    if (!checked) {
        // A radio button is not released by clicking it again.
        if (index == itemIndex_) {
            const QSignalBlocker block(b);
            b->setChecked(true);
        }
        return;
    }
    setItemIndex(index);
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    placeButtons();
}

void TRadioGroup::placeButtons() {
    // Items share the box's height evenly below the caption, one column.
    if (buttons_.empty()) return;
    const int top = 16, bottom = 4, left = 8;
    const int n = itemCount();
    const int step = std::max(1, (height() - top - bottom) / n);
    const int h = std::min(step, 20);
    for (int i = 0; i < n; ++i)
        buttons_[static_cast<std::size_t>(i)]->setGeometry(left, top + i * step + (step - h) / 2,
                                                           width() - left - 4, h);
}
