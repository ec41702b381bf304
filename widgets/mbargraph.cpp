#include "widgets/mbargraph.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace {

QColor toQColor(TMBGColor c) {
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

bool drawn(const vx::BarShape& s) {
    return s.visible && s.rect.width > 0 && s.rect.height > 0;
}

QRect qrect(const vx::BarRect& r) {
    return QRect(r.left, r.top, r.width, r.height);
}

// Whether two shapes put the same pixels on screen (a hidden one draws nothing, wherever it lies).
bool samePixels(const vx::BarShape& a, const vx::BarShape& b) {
    if (!drawn(a) || !drawn(b)) return drawn(a) == drawn(b);
    return a.rect == b.rect && a.fill == b.fill;
}

// A rectangle shape: 1-pixel black outline, the fill inside it.
void drawShape(QPainter& p, const vx::BarShape& s) {
    const vx::BarRect& r = s.rect;
    if (!drawn(s)) return;
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
    const int previousTextWidth = m_textWidth;
    if (m_props.showText && m_props.mode == modeUnsigned && m_props.orientation == orientationHorizontal) {
        // Reformatted on every update (the raw value may change while the bar stays full), but
        // measured only when the text differs.
        std::string caption = vx::barCaption(m_value, m_decimals);
        if (caption != m_captionUtf8) {
            m_captionUtf8 = std::move(caption);
            m_caption = QString::fromUtf8(m_captionUtf8);
            m_textWidth = captionWidth();
            captionChanged = true;
        }
        in.textWidth = m_textWidth;
        in.textHeight = m_textHeight;
    }
    const vx::BarGraphLayout next = vx::layoutBarGraph(m_layout, in);
    const vx::BarLabel& was = m_layout.label;
    const vx::BarLabel& now = next.label;
    const bool labelMoved =
        was.visible != now.visible ||
        (now.visible && (was.left != now.left || was.top != now.top || was.colour != now.colour));
    const bool repaint = captionChanged || labelMoved || !samePixels(m_layout.negative, next.negative) ||
                         !samePixels(m_layout.positive, next.positive) ||
                         !samePixels(m_layout.zero, next.zero);
    // The value moves many a bar by less than a pixel: nothing to paint then. When it does show, only
    // the inside changes; the sunken frame (costly to draw through the style) stays as it is, unless a
    // label reaches onto it.
    const QRect inside = contentsRect();
    auto within = [&](const vx::BarGraphLayout& l, int textWidth) {
        for (const vx::BarShape* s : {&l.negative, &l.positive, &l.zero})
            if (drawn(*s) && !inside.contains(qrect(s->rect))) return false;
        return !l.label.visible || inside.contains(QRect(l.label.left, l.label.top, textWidth, m_textHeight));
    };
    const bool insideOnly = repaint && within(m_layout, previousTextWidth) && within(next, m_textWidth);
    m_layout = next;
    if (insideOnly)
        update(inside);
    else if (repaint)
        update();
}

int TMBarGraph::captionWidth() {
    // Measuring shapes the text; a noisy value comes back to the same few captions over and over.
    if (const auto it = m_widths.find(m_captionUtf8); it != m_widths.end()) return it->second;
    if (m_widths.size() >= 512) m_widths.clear();
    const int w = QFontMetrics(font()).horizontalAdvance(m_caption);
    m_widths.emplace(m_captionUtf8, w);
    return w;
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
        m_widths.clear();
        m_textWidth = captionWidth();
        updateBars(true);
    }
}

void TMBarGraph::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    if (!contentsRect().contains(event->rect())) drawFrame(&p);
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
