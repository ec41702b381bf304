#include "link/mbpanel.h"

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
}

void TMBShape::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onClick) onClick();
    QWidget::mousePressEvent(event);
}

void TMBClickLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onClick) onClick();
    QLabel::mousePressEvent(event);
}
