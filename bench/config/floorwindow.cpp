#include "floorwindow.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>

namespace vx::bench {

FloorWindow::FloorWindow(int labels, int lamps, int bars) {
    auto* grid = new QGridLayout(this);
    int row = 0;
    for (int i = 0; i < labels; ++i, ++row) {
        grid->addWidget(new QLabel(QStringLiteral("Value %1:").arg(i), this), row, 0);
        labels_.push_back(new QLabel(QStringLiteral("0.000 mA"), this));
        grid->addWidget(labels_.back(), row, 1);
    }
    for (int i = 0; i < lamps; ++i, ++row) {
        lamps_.push_back(new QLabel(QStringLiteral("Lamp %1").arg(i), this));
        lamps_.back()->setAutoFillBackground(true);
        grid->addWidget(lamps_.back(), row, 0, 1, 2);
    }
    for (int i = 0; i < bars; ++i, ++row) {
        bars_.push_back(new QProgressBar(this));
        bars_.back()->setRange(0, 1000);
        grid->addWidget(bars_.back(), row, 0, 1, 2);
    }
    resize(360, 20 * row + 20);
}

void FloorWindow::cycle() {
    ++n_;
    for (std::size_t i = 0; i < labels_.size(); ++i) {
        const unsigned v = (n_ * 7919u + static_cast<unsigned>(i) * 104729u) % 250000u;
        labels_[i]->setText(QString::number(v / 10000.0, 'f', 3) + QStringLiteral(" mA"));
    }
    for (QLabel* lamp : lamps_) {
        QPalette p = lamp->palette();
        p.setColor(QPalette::Window, n_ % 2 ? QColor(249, 124, 0) : QColor(0, 255, 0));
        lamp->setPalette(p);
    }
    for (std::size_t i = 0; i < bars_.size(); ++i)
        bars_[i]->setValue(static_cast<int>((n_ * 37u + static_cast<unsigned>(i) * 211u) % 1001u));
}

} // namespace vx::bench
