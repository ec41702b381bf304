#pragma once
// The live trend: input and output against time in their units, the input's scale marked, and in the
// maker mode the two converters' filtered readings on an axis of their own. Drawn with Qt Charts;
// the data and the viewport's rules live in TrendStore.
#include "app/tools/TrendAxes.h"
#include "app/tools/TrendStore.h"

#include <QChartView>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class QChart;
class QComboBox;
class QDateTimeAxis;
class QGraphicsLineItem;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace vx::app::tools {

class ToolWindows;

// The chart's view with the trend's own mouse and keys: the wheel zooms about the mouse, a drag pans,
// the mouse's place is the cursor.
class TrendChartView : public QChartView {
public:
    using QChartView::QChartView;
    std::function<void(double factor, QPointF at)> onZoom;
    std::function<void(double factor, QPointF at)> onZoomValues; // the wheel with Shift or Ctrl
    std::function<void(double dx)> onPan;
    std::function<void(std::optional<QPointF> at)> onCursor;

protected:
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    std::optional<QPointF> dragFrom_;
};

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendWindow(ToolWindows& tools);

    int spanMinutes() const;
    void setSpanMinutes(int minutes);
    bool paused() const { return !view_.live(); }
    void setPaused(bool paused);
    void zoom(double factor, std::int64_t at);
    void pan(std::int64_t byMs);
    // Zooms the value axes about `at` (0: their bottom, 1: their top); they then stay as set.
    void zoomValues(double factor, double at = 0.5);
    // Back to the chosen span, values fitted, following the newest reply.
    void resetView();
    // The shown range, as drawn (PNG) and as numbers (CSV); an error text, empty on success.
    QString exportPng(const QString& path) const;
    QString exportCsv(const QString& path) const;
    // The value axes' ticks as drawn; the output's equals the input's when they share one.
    const AxisTicks& inputTicks() const { return inTicks_; }
    const AxisTicks& outputTicks() const { return outTicks_; }
    bool outputAxisShown() const;
    // Puts the cursor at time t (what the mouse does); the readout says what was measured then.
    void setCursorTime(std::optional<std::int64_t> t);
    // Draws the current range now.
    void refresh();

    const TrendViewport& viewport() const { return view_; }
    QChart* chart() const { return chart_; }
    // The line pieces drawn for a channel (one per stretch without a gap), for tests.
    std::vector<QLineSeries*> segments(TrendChannel c) const;
    QString cursorText() const;

    QComboBox* ComboBox_Span = nullptr;
    QPushButton *Button_Pause = nullptr, *Button_Live = nullptr, *Button_Reset = nullptr,
                *Button_Export = nullptr;
    QLabel *Label_Cursor = nullptr, *Label_Hint = nullptr;
    TrendChartView* ChartView = nullptr;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void applyTexts();
    void replyTaken();
    void scheduleRefresh();
    void drawChannel(TrendChannel c, std::int64_t t0, std::int64_t t1, int columns, QValueAxis* axis,
                     double* lo, double* hi);
    void showSpan();
    void exportAsked(bool png);
    QLineSeries* newSeries(TrendChannel c, QValueAxis* axis);
    std::int64_t newest() const;
    std::optional<std::int64_t> timeAt(QPointF scenePos) const;

    ToolWindows& tools_;
    TrendViewport view_;
    QChart* chart_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis *inputAxis_ = nullptr, *outputAxis_ = nullptr, *converterAxis_ = nullptr;
    std::array<std::vector<QLineSeries*>, kTrendChannels> pool_;
    std::array<std::size_t, kTrendChannels> used_{};
    QLineSeries *scaleLow_ = nullptr, *scaleHigh_ = nullptr;
    QGraphicsLineItem* cursorLine_ = nullptr;
    std::optional<std::int64_t> cursor_;
    QTimer* refreshTimer_ = nullptr;
    bool dirty_ = true;
    int presetMinutes_ = 5;
    AxisTicks inTicks_, outTicks_;
    std::optional<std::pair<double, double>> heldIn_, heldOut_; // value axes as zoomed
};

} // namespace vx::app::tools
