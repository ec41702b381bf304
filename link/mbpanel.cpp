#include "link/mbpanel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

TMBShape::TMBShape(QWidget* parent) : QWidget(parent), brush_(palette().color(QPalette::Button)) {}

void TMBShape::setBrushColor(const QColor& c) {
    if (c == brush_) return;
    brush_ = c;
    update();
}

void TMBShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(brush_);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    if (hasFocus()) {
        // Inside the outline, so the lamp keeps its size and place.
        p.setPen(QPen(palette().color(QPalette::Highlight), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(2, 2, -2, -2));
    }
}

void TMBShape::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (onClick && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        if (!event->isAutoRepeat()) onClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMBShape::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onClick) onClick();
    QWidget::mousePressEvent(event);
}

void TMBClickLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onClick) onClick();
    QLabel::mousePressEvent(event);
}
