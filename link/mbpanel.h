#pragma once
// The two small controls of the link panel that Qt has no ready equivalent for: a filled rectangle
// with a black outline (status and port lamps; one given a focus policy and onClick is operated with
// Space or Enter too) and a label that reacts to a click.
#include <QLabel>
#include <QWidget>

#include <functional>

class TMBShape : public QWidget {
    Q_OBJECT
public:
    explicit TMBShape(QWidget* parent = nullptr);
    QColor brushColor() const { return brush_; }
    void setBrushColor(const QColor& c);
    std::function<void()> onClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QColor brush_;
};

class TMBClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
