#include "widgets/mbargraph.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

QColor toQColor(TMBGColor c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// A rectangle shape: 1-pixel black outline, the fill inside it.
void drawShape(QPainter& p, const vx::BarShape& s) {
    const vx::BarRect& r = s.rect;
    if (!s.visible || r.width <= 0 || r.height <= 0) return;
    p.fillRect(r.left, r.top, r.width, r.height, Qt::black);
    if (r.width > 2 && r.height > 2)
        p.fillRect(r.left + 1, r.top + 1, r.width - 2, r.height - 2, toQColor(s.fill));
}

} // namespace

TMBarGraph::TMBarGraph(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("MBarGraph"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setBackgroundRole(QPalette::Button);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(QFont(QStringLiteral("Arial"), 8));
    setMinimumSize(30, 5);
    resize(105, 17);
    const QFontMetrics fm(font());
    m_textHeight = fm.height();
    m_textAscent = fm.ascent();
    m_textWidth = fm.horizontalAdvance(m_caption);
    // No update here: the first resize or property write lays the bars out.
    m_layout = vx::initialBarGraphLayout(width(), height());
}

TMBGOrientation TMBarGraph::MBGOrientation() const {
    return m_props.orientation;
}
void TMBarGraph::setMBGOrientation(TMBGOrientation v) {
    if (v == orientationVertical)
        setMinimumSize(6, 30);
    else
        setMinimumSize(30, 6);
    setAndRelay(m_props.orientation, v);
}

double TMBarGraph::MBGValue() const {
    return m_value;
}
void TMBarGraph::setMBGValue(double v) {
    m_value = v;
    m_displayValue = vx::barDisplayValue(v);
    updateBars(false);
}

TMBGColor TMBarGraph::MBGMinusColorAt0() const {
    return m_props.minusAt0;
}
void TMBarGraph::setMBGMinusColorAt0(TMBGColor c) {
    setAndRelay(m_props.minusAt0, c);
}
TMBGColor TMBarGraph::MBGMinusColorAt1() const {
    return m_props.minusAt1;
}
void TMBarGraph::setMBGMinusColorAt1(TMBGColor c) {
    setAndRelay(m_props.minusAt1, c);
}
TMBGColor TMBarGraph::MBGPlusColorAt0() const {
    return m_props.plusAt0;
}
void TMBarGraph::setMBGPlusColorAt0(TMBGColor c) {
    setAndRelay(m_props.plusAt0, c);
}
TMBGColor TMBarGraph::MBGPlusColorAt1() const {
    return m_props.plusAt1;
}
void TMBarGraph::setMBGPlusColorAt1(TMBGColor c) {
    setAndRelay(m_props.plusAt1, c);
}
TMBGMode TMBarGraph::MBGMode() const {
    return m_props.mode;
}
void TMBarGraph::setMBGMode(TMBGMode v) {
    setAndRelay(m_props.mode, v);
}
bool TMBarGraph::MBGShowText() const {
    return m_props.showText;
}
void TMBarGraph::setMBGShowText(bool v) {
    setAndRelay(m_props.showText, v);
}
bool TMBarGraph::MBGInverseText() const {
    return m_props.inverseText;
}
void TMBarGraph::setMBGInverseText(bool v) {
    setAndRelay(m_props.inverseText, v);
}
TMBGTextPosition TMBarGraph::MBGTextPosition() const {
    return m_props.textPosition;
}
void TMBarGraph::setMBGTextPosition(TMBGTextPosition v) {
    setAndRelay(m_props.textPosition, v);
}
int TMBarGraph::MBGTextLeft() const {
    return m_props.textLeft;
}
void TMBarGraph::setMBGTextLeft(int v) {
    setAndRelay(m_props.textLeft, v);
}
int TMBarGraph::MBGTextTop() const {
    return m_props.textTop;
}
void TMBarGraph::setMBGTextTop(int v) {
    setAndRelay(m_props.textTop, v);
}
int TMBarGraph::MBGDecimals() const {
    return m_decimals;
}
void TMBarGraph::setMBGDecimals(int v) {
    setAndRelay(m_decimals, std::clamp(v, 0, 4));
}

template <typename T> void TMBarGraph::setAndRelay(T& field, T value) {
    field = value;
    updateBars(true);
}

void TMBarGraph::updateBars(bool forced) {
    vx::BarGraphInput in{width(), height(), m_props, m_displayValue, 0, 0, forced};
    bool captionChanged = false;
    if (m_props.showText && m_props.mode == modeUnsigned && m_props.orientation == orientationHorizontal) {
        // Reformatted on every update (the raw value may change while the bar stays full), but
        // measured only when the text differs.
        std::string caption = vx::barCaption(m_value, m_decimals);
        if (caption != m_captionUtf8) {
            m_captionUtf8 = std::move(caption);
            m_caption = QString::fromUtf8(m_captionUtf8);
            m_textWidth = QFontMetrics(font()).horizontalAdvance(m_caption);
            captionChanged = true;
        }
        in.textWidth = m_textWidth;
        in.textHeight = m_textHeight;
    }
    vx::BarGraphLayout next = vx::layoutBarGraph(m_layout, in);
    if (captionChanged || !(next == m_layout)) {
        m_layout = next;
        update();
    }
}

void TMBarGraph::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    updateBars(true);
}

void TMBarGraph::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    // The constructor's own setFont arrives before the metrics are taken (m_textHeight still 0) and,
    // like the rest of construction, runs no update.
    if (event->type() == QEvent::FontChange && m_textHeight > 0) {
        const QFontMetrics fm(font());
        m_textHeight = fm.height();
        m_textAscent = fm.ascent();
        m_textWidth = fm.horizontalAdvance(m_caption);
        updateBars(true);
    }
}

void TMBarGraph::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    drawFrame(&p);
    drawShape(p, m_layout.negative);
    drawShape(p, m_layout.positive);
    drawShape(p, m_layout.zero);
    const vx::BarLabel& l = m_layout.label;
    // The label may be placed anywhere (fixed positions are arbitrary); draw it only where it can
    // be seen, which also keeps the baseline arithmetic inside int.
    const long long left = l.left, top = l.top;
    if (!l.visible || left >= width() || top >= height() || left + m_textWidth <= 0 ||
        top + m_textHeight <= 0)
        return;
    p.setFont(font());
    p.setPen(toQColor(l.colour));
    p.drawText(l.left, l.top + m_textAscent, m_caption);
}
