#include "app/tools/TrendWindow.h"

#include "app/texts/Texts.h"
#include "app/tools/CsvRecorder.h"
#include "app/tools/ToolWindows.h"
#include "common/pictureformat.h"

#include <QBoxLayout>
#include <QChart>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QGraphicsLineItem>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace vx::app::tools {

namespace {

const QColor kColours[kTrendChannels] = {QColor(0x1f, 0x6f, 0xc5), QColor(0xd9, 0x54, 0x1a),
                                         QColor(0x2c, 0x9a, 0x3c), QColor(0x8e, 0x44, 0xad)};

QString number(double v, const char* pattern) {
    return QString::fromStdString(vx::formatPicture(v, pattern));
}

} // namespace

// ---- the chart's view

void TrendChartView::wheelEvent(QWheelEvent* e) {
    const bool values = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    // Shift turns some mice's wheel sideways.
    const int delta = e->angleDelta().y() != 0 ? e->angleDelta().y() : e->angleDelta().x();
    const auto& zoom = values ? onZoomValues : onZoom;
    if (zoom && delta != 0) zoom(delta > 0 ? 0.8 : 1.25, mapToScene(e->position().toPoint()));
    e->accept();
}

void TrendChartView::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) dragFrom_ = e->position();
    e->accept();
}

void TrendChartView::mouseMoveEvent(QMouseEvent* e) {
    if (dragFrom_ && onPan) {
        onPan(e->position().x() - dragFrom_->x());
        dragFrom_ = e->position();
    }
    if (onCursor) onCursor(mapToScene(e->position().toPoint()));
    e->accept();
}

void TrendChartView::mouseReleaseEvent(QMouseEvent* e) {
    dragFrom_.reset();
    e->accept();
}

void TrendChartView::leaveEvent(QEvent* e) {
    if (onCursor) onCursor(std::nullopt);
    QChartView::leaveEvent(e);
}

// ---- the window

TrendWindow::TrendWindow(ToolWindows& tools) : QWidget(nullptr, Qt::Window), tools_(tools) {
    setObjectName(QStringLiteral("TrendWindow"));
    auto* layout = new QVBoxLayout(this);
    // A fixed least size, set before the window exists: one the layout changed later would have to be
    // handed to a window already on the screen on every change.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(420, 260);
    auto* bar = new QHBoxLayout;
    ComboBox_Span = new QComboBox(this);
    ComboBox_Span->setObjectName(QStringLiteral("ComboBox_Span"));
    for (int minutes : TrendViewport::kSpanMinutes)
        ComboBox_Span->addItem(QString(), minutes);
    // The last entry stands for a span the engineer zoomed to.
    ComboBox_Span->addItem(QString(), 0);
    ComboBox_Span->setCurrentIndex(1);
    Button_Pause = new QPushButton(this);
    Button_Pause->setObjectName(QStringLiteral("Button_Pause"));
    Button_Pause->setCheckable(true);
    Button_Live = new QPushButton(this);
    Button_Live->setObjectName(QStringLiteral("Button_Live"));
    Button_Reset = new QPushButton(this);
    Button_Reset->setObjectName(QStringLiteral("Button_Reset"));
    Button_Export = new QPushButton(this);
    Button_Export->setObjectName(QStringLiteral("Button_Export"));
    auto* exportMenu = new QMenu(Button_Export);
    exportMenu->addAction(QStringLiteral("PNG…"), this, [this] { exportAsked(true); });
    exportMenu->addAction(QStringLiteral("CSV…"), this, [this] { exportAsked(false); });
    Button_Export->setMenu(exportMenu);
    Label_Cursor = new QLabel(this);
    Label_Cursor->setObjectName(QStringLiteral("Label_Cursor"));
    Label_Cursor->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(ComboBox_Span);
    bar->addWidget(Button_Pause);
    bar->addWidget(Button_Live);
    bar->addWidget(Button_Reset);
    bar->addWidget(Button_Export);
    bar->addSpacing(12);
    bar->addWidget(Label_Cursor, 1);
    layout->addLayout(bar);

    chart_ = new QChart;
    chart_->setLocalizeNumbers(true);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->setMargins(QMargins(4, 4, 4, 4));
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setTickCount(7);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    inputAxis_ = new QValueAxis;
    outputAxis_ = new QValueAxis;
    converterAxis_ = new QValueAxis;
    inputAxis_->setLabelFormat(QStringLiteral("%.4g"));
    outputAxis_->setLabelFormat(QStringLiteral("%.4g"));
    converterAxis_->setLabelFormat(QStringLiteral("%.0f"));
    chart_->addAxis(inputAxis_, Qt::AlignLeft);
    chart_->addAxis(outputAxis_, Qt::AlignRight);
    chart_->addAxis(converterAxis_, Qt::AlignRight);
    for (auto [axis, c] : {std::pair{inputAxis_, 0}, {outputAxis_, 1}, {converterAxis_, 2}}) {
        axis->setLinePenColor(kColours[c]);
        axis->setLabelsColor(kColours[c]);
    }
    // The scale's ends, dashed, on the input's axis.
    for (QLineSeries** s : {&scaleLow_, &scaleHigh_}) {
        *s = new QLineSeries;
        QPen pen(kColours[0].lighter(150), 1, Qt::DashLine);
        (*s)->setPen(pen);
        chart_->addSeries(*s);
        (*s)->attachAxis(timeAxis_);
        (*s)->attachAxis(inputAxis_);
    }
    chart_->legend()->markers(scaleHigh_).value(0)->setVisible(false);
    for (std::size_t c = 0; c < kTrendChannels; ++c)
        newSeries(static_cast<TrendChannel>(c), c == 0 ? inputAxis_ : c == 1 ? outputAxis_ : converterAxis_);

    ChartView = new TrendChartView(chart_, this);
    ChartView->setObjectName(QStringLiteral("ChartView_Trend"));
    ChartView->setRenderHint(QPainter::Antialiasing, false);
    ChartView->setMouseTracking(true);
    ChartView->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(ChartView, 1);
    Label_Hint = new QLabel(this);
    Label_Hint->setObjectName(QStringLiteral("Label_Hint"));
    Label_Hint->setWordWrap(true);
    Label_Hint->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(Label_Hint);
    cursorLine_ = new QGraphicsLineItem(chart_);
    cursorLine_->setPen(QPen(palette().color(QPalette::WindowText), 1, Qt::DotLine));
    cursorLine_->setZValue(1000);
    cursorLine_->hide();

    ChartView->onZoom = [this](double factor, QPointF at) {
        if (const auto t = timeAt(at)) zoom(factor, *t);
    };
    ChartView->onZoomValues = [this](double factor, QPointF at) {
        const QRectF plot = chart_->plotArea();
        const QPointF p = chart_->mapFromScene(at);
        zoomValues(factor,
                   plot.height() > 0 ? std::clamp((plot.bottom() - p.y()) / plot.height(), 0.0, 1.0) : 0.5);
    };
    ChartView->onPan = [this](double dx) {
        const double width = std::max(1.0, chart_->plotArea().width());
        pan(static_cast<std::int64_t>(-dx / width * static_cast<double>(view_.span())));
    };
    ChartView->onCursor = [this](std::optional<QPointF> at) {
        setCursorTime(at ? timeAt(*at) : std::nullopt);
    };

    connect(ComboBox_Span, &QComboBox::activated, this, [this](int i) {
        if (const int m = ComboBox_Span->itemData(i).toInt(); m > 0) return setSpanMinutes(m);
        showSpan();
    });
    connect(Button_Pause, &QPushButton::toggled, this, &TrendWindow::setPaused);
    connect(Button_Live, &QPushButton::clicked, this, [this] { setPaused(false); });
    connect(Button_Reset, &QPushButton::clicked, this, &TrendWindow::resetView);
    refreshTimer_ = new QTimer(this);
    connect(refreshTimer_, &QTimer::timeout, this, [this] {
        if (dirty_ && view_.live() && isVisible()) refresh();
    });
    connect(&tools_, &ToolWindows::replyTaken, this, &TrendWindow::replyTaken);
    tools_.host().onLanguageApplied(this, [this] { applyTexts(); });
    applyTexts();
    scheduleRefresh();
}

std::vector<QLineSeries*> TrendWindow::segments(TrendChannel c) const {
    const auto& pool = pool_[static_cast<std::size_t>(c)];
    return {pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(used_[static_cast<std::size_t>(c)])};
}

QLineSeries* TrendWindow::newSeries(TrendChannel c, QValueAxis* axis) {
    const auto i = static_cast<std::size_t>(c);
    auto* s = new QLineSeries;
    s->setPen(QPen(kColours[i], 1.5));
    chart_->addSeries(s);
    s->attachAxis(timeAxis_);
    s->attachAxis(axis);
    // One legend entry per quantity, however many pieces its line is in.
    if (!pool_[i].empty()) {
        chart_->legend()->markers(s).value(0)->setVisible(false);
        s->setName(pool_[i].front()->name());
    }
    pool_[i].push_back(s);
    return s;
}

void TrendWindow::applyTexts() {
    setWindowTitle(tools_.inLanguage(Text::TrendTitle) + QStringLiteral(" - VX2207"));
    for (int i = 0; i < ComboBox_Span->count(); ++i)
        if (const int m = ComboBox_Span->itemData(i).toInt(); m > 0)
            ComboBox_Span->setItemText(i, tools_.inLanguage(Text::LastMin).arg(m));
    showSpan();
    Button_Pause->setText(Button_Pause->isChecked() ? tools_.inLanguage(Text::Resume)
                                                    : tools_.inLanguage(Text::Pause));
    Button_Live->setText(tools_.inLanguage(Text::Live));
    Button_Live->setToolTip(tools_.inLanguage(Text::LiveTip));
    Button_Reset->setText(tools_.inLanguage(Text::Reset));
    Button_Reset->setToolTip(tools_.inLanguage(Text::ResetTip));
    Button_Export->setText(tools_.inLanguage(Text::Export));
    Button_Export->setToolTip(tools_.inLanguage(Text::ExportTip));
    Label_Hint->setText(tools_.inLanguage(Text::TrendHint));
    const std::optional<Measurement>& m = tools_.latest();
    const auto unit = [](const std::string& u) {
        return u.empty() ? QString() : QStringLiteral(" [%1]").arg(QString::fromStdString(u));
    };
    const QString names[kTrendChannels] = {
        tools_.inLanguage(Text::SeriesInput) + (m ? unit(m->inputUnit) : QString()),
        tools_.inLanguage(Text::SeriesOutput) + (m ? unit(m->outputUnit) : QString()),
        tools_.inLanguage(Text::SeriesCurrentAdc), tools_.inLanguage(Text::SeriesVoltageAdc)};
    for (std::size_t c = 0; c < kTrendChannels; ++c)
        for (QLineSeries* s : pool_[c])
            s->setName(names[c]);
    const bool shared = m && sharesAxis(m->inputUnit, m->outputUnit);
    inputAxis_->setTitleText(shared ? tools_.inLanguage(Text::SeriesInputOutput) + unit(m->inputUnit)
                                    : names[0]);
    outputAxis_->setTitleText(names[1]);
    converterAxis_->setTitleText(tools_.inLanguage(Text::AdcCounts));
    scaleLow_->setName(tools_.inLanguage(Text::InputScale));
    setCursorTime(cursor_);
}

int TrendWindow::spanMinutes() const {
    return presetMinutes_;
}

void TrendWindow::setSpanMinutes(int minutes) {
    if (minutes <= 0 || ComboBox_Span->findData(minutes) < 0) return;
    presetMinutes_ = minutes;
    view_.setSpanMinutes(minutes);
    showSpan();
    scheduleRefresh();
    refresh();
}

void TrendWindow::setPaused(bool paused) {
    if (paused)
        view_.hold(newest());
    else
        view_.resume();
    if (Button_Pause->isChecked() != paused) Button_Pause->setChecked(paused);
    applyTexts();
    showSpan();
    refresh();
}

void TrendWindow::zoom(double factor, std::int64_t at) {
    view_.zoom(factor, at, newest());
    showSpan();
    scheduleRefresh();
    refresh();
}

void TrendWindow::zoomValues(double factor, double at) {
    if (!(factor > 0) || !std::isfinite(factor)) return;
    const auto scaled = [&](const AxisTicks& t) {
        const double centre = t.lo + std::clamp(at, 0.0, 1.0) * (t.hi - t.lo);
        const double lo = centre + (t.lo - centre) * factor, hi = centre + (t.hi - centre) * factor;
        // Not so far in that a float's steps show, nor out past any reading.
        return hi - lo > 1e-6 * std::max(1.0, std::fabs(centre)) && hi - lo < 1e12 ? std::pair{lo, hi}
                                                                                   : std::pair{t.lo, t.hi};
    };
    heldIn_ = scaled(heldIn_ ? AxisTicks{heldIn_->first, heldIn_->second} : inTicks_);
    heldOut_ = scaled(heldOut_ ? AxisTicks{heldOut_->first, heldOut_->second} : outTicks_);
    refresh();
}

void TrendWindow::resetView() {
    heldIn_.reset();
    heldOut_.reset();
    view_.setSpanMinutes(presetMinutes_);
    setPaused(false);
    scheduleRefresh();
}

void TrendWindow::showSpan() {
    // A chosen span while it follows the newest reply; anything else says what it shows.
    const int preset = ComboBox_Span->findData(static_cast<int>(view_.span() / 60000));
    const bool custom = !view_.live() || view_.span() % 60000 != 0 || preset < 0 ||
                        ComboBox_Span->itemData(preset).toInt() == 0;
    const int last = ComboBox_Span->count() - 1;
    if (!custom) return ComboBox_Span->setCurrentIndex(preset);
    const std::int64_t s = view_.span() / 1000;
    const QString span = s >= 60 ? QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'))
                                 : QStringLiteral("0:%1").arg(s, 2, 10, QLatin1Char('0'));
    ComboBox_Span->setItemText(last, tools_.inLanguage(Text::CustomMin).arg(span));
    ComboBox_Span->setCurrentIndex(last);
}

void TrendWindow::pan(std::int64_t byMs) {
    view_.pan(byMs, newest());
    if (!Button_Pause->isChecked()) {
        const QSignalBlocker quiet(Button_Pause);
        Button_Pause->setChecked(true);
        applyTexts();
    }
    showSpan();
    refresh();
}

std::int64_t TrendWindow::newest() const {
    // Before the first reply the trend shows the time up to now.
    return tools_.trend().empty() ? QDateTime::currentMSecsSinceEpoch() : tools_.trend().newest();
}

void TrendWindow::replyTaken() {
    dirty_ = true;
    // The axis titles carry the units, which follow the instrument's types.
    const std::optional<Measurement>& m = tools_.latest();
    if (m &&
        !inputAxis_->titleText().endsWith(QStringLiteral("[%1]").arg(QString::fromStdString(m->inputUnit))))
        applyTexts();
}

void TrendWindow::scheduleRefresh() {
    // Often enough for the line to move by about a pixel, never more than four times a second.
    const double width = std::max(200.0, chart_->plotArea().width());
    const auto interval =
        static_cast<int>(std::clamp(static_cast<double>(view_.span()) / width, 250.0, 2000.0));
    refreshTimer_->start(interval);
}

void TrendWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    refresh();
}

void TrendWindow::refresh() {
    dirty_ = false;
    const auto [t0, t1] = view_.range(newest());
    const int columns = std::max(100, static_cast<int>(chart_->plotArea().width()));
    timeAxis_->setFormat(view_.span() <= 10 * 60 * 1000     ? QStringLiteral("HH:mm:ss")
                         : view_.span() <= 24 * 3600 * 1000 ? QStringLiteral("HH:mm")
                                                            : QStringLiteral("MM-dd HH:mm"));
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(t0), QDateTime::fromMSecsSinceEpoch(t1));

    double lo = HUGE_VAL, hi = -HUGE_VAL;
    const std::optional<Measurement>& m = tools_.latest();
    if (m) {
        lo = std::min(m->scaleLow, m->scaleHigh);
        hi = std::max(m->scaleLow, m->scaleHigh);
        scaleLow_->replace({QPointF(t0, m->scaleLow), QPointF(t1, m->scaleLow)});
        scaleHigh_->replace({QPointF(t0, m->scaleHigh), QPointF(t1, m->scaleHigh)});
    }
    drawChannel(TrendChannel::Input, t0, t1, columns, inputAxis_, &lo, &hi);
    double outLo = HUGE_VAL, outHi = -HUGE_VAL;
    drawChannel(TrendChannel::Output, t0, t1, columns, outputAxis_, &outLo, &outHi);
    // One axis for both when their units agree, so equal values sit at equal heights.
    const bool shared = m && sharesAxis(m->inputUnit, m->outputUnit);
    if (shared) {
        lo = outLo = std::min(lo, outLo);
        hi = outHi = std::max(hi, outHi);
    }
    // Round ends change only when a value crosses one, so the axes stand still while the line moves.
    const auto apply = [](QValueAxis* axis, AxisTicks& shown, const AxisTicks& want) {
        if (want == shown && axis->tickType() == QValueAxis::TicksDynamic) return;
        shown = want;
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setRange(want.lo, want.hi);
        axis->setTickAnchor(want.lo);
        axis->setTickInterval(want.step);
    };
    const auto held = [](const std::optional<std::pair<double, double>>& h, const AxisTicks& fit) {
        return h ? AxisTicks{h->first, h->second, niceAxis(h->first, h->second).step, 0} : fit;
    };
    apply(inputAxis_, inTicks_, held(heldIn_, niceAxis(lo, hi)));
    apply(outputAxis_, outTicks_, held(shared ? heldIn_ : heldOut_, niceAxis(outLo, outHi)));
    outputAxis_->setVisible(!shared);
    const bool maker = tools_.host().makerAccess();
    converterAxis_->setVisible(maker);
    double adLo = HUGE_VAL, adHi = -HUGE_VAL;
    for (TrendChannel c : {TrendChannel::Converter0, TrendChannel::Converter1}) {
        if (maker) {
            drawChannel(c, t0, t1, columns, converterAxis_, &adLo, &adHi);
        } else {
            for (QLineSeries* s : segments(c))
                s->clear();
            used_[static_cast<std::size_t>(c)] = 0;
        }
        pool_[static_cast<std::size_t>(c)].front()->setVisible(maker);
        chart_->legend()->markers(pool_[static_cast<std::size_t>(c)].front()).value(0)->setVisible(maker);
    }
    if (maker) {
        const AxisTicks a = niceAxis(adLo, adHi);
        converterAxis_->setRange(a.lo, a.hi);
    }
    setCursorTime(cursor_);
}

void TrendWindow::drawChannel(TrendChannel c, std::int64_t t0, std::int64_t t1, int columns, QValueAxis* axis,
                              double* lo, double* hi) {
    const auto i = static_cast<std::size_t>(c);
    const std::vector<TrendPoint> points = tools_.trend().points(c, t0, t1, columns);
    std::size_t used = 0;
    QList<QPointF> piece;
    const auto close = [&] {
        if (piece.isEmpty()) return;
        QLineSeries* s = used < pool_[i].size() ? pool_[i][used] : newSeries(c, axis);
        s->replace(piece);
        ++used;
        piece.clear();
    };
    for (const TrendPoint& p : points) {
        if (std::isnan(p.v)) {
            close();
            continue;
        }
        piece.append(QPointF(static_cast<double>(p.t), p.v));
        if (p.t >= t0 && p.t <= t1) {
            *lo = std::min(*lo, p.v);
            *hi = std::max(*hi, p.v);
        }
    }
    close();
    // Pieces left over from a drawing with more gaps are emptied, not removed: they come back.
    for (std::size_t k = used; k < used_[i]; ++k)
        pool_[i][k]->clear();
    used_[i] = used;
}

std::optional<std::int64_t> TrendWindow::timeAt(QPointF scenePos) const {
    const QPointF p = chart_->mapFromScene(scenePos);
    const QRectF plot = chart_->plotArea();
    if (!plot.contains(p) || plot.width() <= 0) return std::nullopt;
    const auto [t0, t1] = view_.range(newest());
    return t0 +
           static_cast<std::int64_t>((p.x() - plot.left()) / plot.width() * static_cast<double>(t1 - t0));
}

void TrendWindow::setCursorTime(std::optional<std::int64_t> t) {
    cursor_ = t;
    // Nothing to read before the first reply, and nothing where the mouse is not.
    if (!t || tools_.trend().empty()) {
        cursorLine_->hide();
        Label_Cursor->clear();
        return;
    }
    const auto [t0, t1] = view_.range(newest());
    const QRectF plot = chart_->plotArea();
    const double x = plot.left() + static_cast<double>(*t - t0) /
                                       static_cast<double>(std::max<std::int64_t>(1, t1 - t0)) * plot.width();
    cursorLine_->setLine(x, plot.top(), x, plot.bottom());
    cursorLine_->setVisible(x >= plot.left() && x <= plot.right());
    // Within a pixel's time, or a second, whichever is more.
    const auto reach = std::max<std::int64_t>(1000, (t1 - t0) / std::max(1, static_cast<int>(plot.width())));
    const std::optional<TrendValues> v = tools_.trend().at(*t, reach);
    QString text =
        QDateTime::fromMSecsSinceEpoch(*t).toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("   ");
    if (!v) {
        Label_Cursor->setText(text + tools_.inLanguage(Text::NoReply));
        return;
    }
    const std::optional<Measurement>& m = tools_.latest();
    const QString inUnit = m ? QString::fromStdString(m->inputUnit) : QString();
    const QString outUnit = m ? QString::fromStdString(m->outputUnit) : QString();
    text += tools_.inLanguage(Text::CursorInput) + QLatin1Char(' ') + number((*v)[0], "0.0000") +
            QLatin1Char(' ') + inUnit + QStringLiteral("   ") + tools_.inLanguage(Text::CursorOutput) +
            QLatin1Char(' ') + number((*v)[1], "0.0000") + QLatin1Char(' ') + outUnit;
    if (tools_.host().makerAccess())
        text +=
            QStringLiteral("   ADC: ") + number((*v)[2], "0") + QStringLiteral(" / ") + number((*v)[3], "0");
    Label_Cursor->setText(text);
}

QString TrendWindow::cursorText() const {
    return Label_Cursor->text();
}

void TrendWindow::keyPressEvent(QKeyEvent* e) {
    const std::int64_t step = view_.span() / 10;
    const auto [t0, t1] = view_.range(newest());
    switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return zoom(0.8, t0 + (t1 - t0) / 2);
    case Qt::Key_Minus:
        return zoom(1.25, t0 + (t1 - t0) / 2);
    case Qt::Key_Up:
        return zoomValues(0.8);
    case Qt::Key_Down:
        return zoomValues(1.25);
    case Qt::Key_Left:
        return pan(-step);
    case Qt::Key_Right:
        return pan(step);
    case Qt::Key_Space:
        return setPaused(!paused());
    case Qt::Key_End:
        return Button_Live->click();
    case Qt::Key_Home:
        return resetView();
    default:
        QWidget::keyPressEvent(e);
    }
}

} // namespace vx::app::tools

namespace vx::app::tools {

bool TrendWindow::outputAxisShown() const {
    return outputAxis_->isVisible();
}

QString TrendWindow::exportPng(const QString& path) const {
    const QString error = tools_.inLanguage(Text::FileCannotBeWritten);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return error + f.errorString();
    if (!ChartView->grab().save(&f, "PNG") || !f.commit()) return error + f.errorString();
    return {};
}

QString TrendWindow::exportCsv(const QString& path) const {
    const QString error = tools_.inLanguage(Text::FileCannotBeWritten);
    const auto [t0, t1] = view_.range(newest());
    const std::optional<Measurement>& m = tools_.latest();
    const std::string inUnit = csvField(m ? m->inputUnit : std::string());
    const std::string outUnit = csvField(m ? m->outputUnit : std::string());
    // The same names and number forms as a recording's, so one script reads both.
    std::string text = "time,input_value,input_unit,output_value,output_unit,adc0_filtered,adc1_filtered\r\n";
    for (const auto& [t, v] : tools_.trend().samples(t0, t1))
        text += isoLocalTime(t) + ',' + csvNumber(v[0]) + ',' + inUnit + ',' + csvNumber(v[1]) + ',' +
                outUnit + ',' + csvNumber(v[2]) + ',' + csvNumber(v[3]) + "\r\n";
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return error + f.errorString();
    if (f.write(text.data(), static_cast<qint64>(text.size())) < 0 || !f.commit())
        return error + f.errorString();
    return {};
}

void TrendWindow::exportAsked(bool png) {
    const QString title = tools_.inLanguage(Text::ExportTrendTitle);
    const QString suggested =
        QStringLiteral("VX2207-trend-%1.%2")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                 png ? QStringLiteral("png") : QStringLiteral("csv"));
    const QString filter = png ? tools_.inLanguage(Text::PngPictures) + QStringLiteral(" (*.png)")
                               : tools_.inLanguage(Text::CsvFiles) + QStringLiteral(" (*.csv)");
    const QString path = QFileDialog::getSaveFileName(this, title, suggested, filter);
    if (path.isEmpty()) return;
    if (const QString e = png ? exportPng(path) : exportCsv(path); !e.isEmpty())
        QMessageBox::warning(this, title, e);
}

} // namespace vx::app::tools
