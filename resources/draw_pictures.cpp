// Draws the window's pictures (terminal wiring, the "calibrated" mark, the step arrows) into PNG files.
// Run once after changing a drawing and commit the result:
//   cmake --build build/release --target vx_draw_pictures && build/release/app/vx_draw_pictures
//   resources/pictures
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kInk(40, 40, 40);
const QColor kPlus(200, 30, 30);
const QColor kMinus(30, 60, 200);

QFont font(int px, bool bold) {
    QFont f("Arial");
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}

// A vertical terminal strip on the right with four numbered screw terminals; the plus and minus terminals
// are wired to a source symbol on the left (a current source draws an arrow, a voltage source + and -).
enum class Far { CurrentSource, VoltageSource, Load };

QImage wiring(int w, int h, const int (&terminals)[4], int plus, int minus, Far far, const char* title,
              int scale) {
    QImage img(w * scale, h * scale, QImage::Format_RGB32);
    img.setDevicePixelRatio(scale);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    p.setPen(kInk);
    p.setFont(font(10, true));
    p.drawText(QRect(0, 2, w, 14), Qt::AlignHCenter, title);

    const int stripW = 30, top = 20, bottom = h - 6;
    const int x0 = w - stripW - 3;
    const double cell = (bottom - top) / 4.0;
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(225, 225, 215));
    p.drawRoundedRect(QRectF(x0, top, stripW, bottom - top), 3, 3);
    double yPlus = 0, yMinus = 0;
    for (int i = 0; i < 4; ++i) {
        const double cy = top + cell * (i + 0.5);
        const bool used = terminals[i] == plus || terminals[i] == minus;
        p.setPen(QPen(kInk, 1));
        p.setBrush(used ? QColor(255, 240, 160) : QColor(245, 245, 240));
        p.drawRect(QRectF(x0 + 3, cy - cell / 2 + 2, stripW - 6, cell - 4));
        p.setBrush(QColor(170, 170, 170));
        p.drawEllipse(QPointF(x0 + 9, cy), 4.5, 4.5);
        p.drawLine(QPointF(x0 + 6, cy + 3), QPointF(x0 + 12, cy - 3));
        p.setFont(font(11, true));
        p.setPen(kInk);
        p.drawText(QRectF(x0 + 14, cy - 8, stripW - 16, 16), Qt::AlignCenter, QString::number(terminals[i]));
        if (terminals[i] == plus) yPlus = cy;
        if (terminals[i] == minus) yMinus = cy;
    }

    // Source symbol between the two wired terminals.
    const double sx = 20, sy = (yPlus + yMinus) / 2, r = 12;
    const double yTop = std::min(yPlus, yMinus), yBottom = std::max(yPlus, yMinus);
    const double yTopSym = sy - r, yBottomSym = sy + r;
    const bool plusOnTop = yPlus < yMinus;
    const auto wire = [&](double y, double ySym, const QColor& c) {
        p.setPen(QPen(c, 2));
        p.setBrush(Qt::NoBrush);
        QPainterPath path;
        path.moveTo(x0 + 4, y);
        path.lineTo(sx, y);
        path.lineTo(sx, ySym);
        p.drawPath(path);
        p.setBrush(c);
        p.drawEllipse(QPointF(x0 + 4, y), 2.5, 2.5);
    };
    wire(yTop, yTopSym, plusOnTop ? kPlus : kMinus);
    wire(yBottom, yBottomSym, plusOnTop ? kMinus : kPlus);
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(sx, sy), r, r);
    if (far == Far::Load) {
        // The instrument drives the output; the far end is the load.
        p.setBrush(Qt::white);
        p.setPen(QPen(Qt::white, 3));
        p.drawEllipse(QPointF(sx, sy), r + 1, r + 1);
        p.setPen(QPen(kInk, 1.5));
        p.drawRect(QRectF(sx - 5, sy - r, 10, 2 * r));
        p.setFont(font(9, true));
        p.drawText(QRectF(sx - 5, sy - r, 10, 2 * r), Qt::AlignCenter, "R");
    } else if (far == Far::CurrentSource) {
        // Conventional current flows out of the source towards the plus terminal.
        const double dir = plusOnTop ? -1 : 1;
        p.drawLine(QPointF(sx, sy - dir * 7), QPointF(sx, sy + dir * 7));
        QPainterPath head;
        head.moveTo(sx, sy + dir * 8);
        head.lineTo(sx - 4, sy + dir * 2);
        head.lineTo(sx + 4, sy + dir * 2);
        head.closeSubpath();
        p.setBrush(kInk);
        p.drawPath(head);
    } else {
        p.setFont(font(12, true));
        const double yp = plusOnTop ? sy - 7 : sy + 7, ym = plusOnTop ? sy + 7 : sy - 7;
        p.setPen(kPlus);
        p.drawText(QRectF(sx - 6, yp - 7, 12, 14), Qt::AlignCenter, "+");
        p.setPen(kMinus);
        p.drawText(QRectF(sx - 6, ym - 8, 12, 14), Qt::AlignCenter, "-");
    }
    p.setFont(font(10, true));
    p.setPen(kPlus);
    const double labelX = sx + r + 2, labelW = x0 - labelX;
    p.drawText(QRectF(labelX, yPlus - 14, labelW, 12), Qt::AlignCenter, "+");
    p.setPen(kMinus);
    p.drawText(QRectF(labelX, yMinus - 14, labelW, 12), Qt::AlignCenter, "-");
    return img;
}

QImage calibratedMark(int scale) {
    QImage img(41 * scale, 38 * scale, QImage::Format_ARGB32);
    img.setDevicePixelRatio(scale);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 110, 0), 1.5));
    p.setBrush(QColor(40, 170, 40));
    p.drawEllipse(QRectF(2.5, 1.5, 36, 35));
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath tick;
    tick.moveTo(11, 19);
    tick.lineTo(18, 26);
    tick.lineTo(30, 11);
    p.drawPath(tick);
    return img;
}

QImage arrow(int w, int h, bool next, int scale) {
    QImage img(w * scale, h * scale, QImage::Format_ARGB32);
    img.setDevicePixelRatio(scale);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double m = h * 0.12, shaft = h * 0.18, headLen = w * 0.42;
    QPainterPath a;
    // Drawn pointing right, mirrored for Back.
    a.moveTo(m, h / 2.0 - shaft);
    a.lineTo(w - m - headLen, h / 2.0 - shaft);
    a.lineTo(w - m - headLen, m);
    a.lineTo(w - m, h / 2.0);
    a.lineTo(w - m - headLen, h - m);
    a.lineTo(w - m - headLen, h / 2.0 + shaft);
    a.lineTo(m, h / 2.0 + shaft);
    a.closeSubpath();
    if (!next) a = QTransform(-1, 0, 0, 1, w, 0).map(a);
    p.setPen(QPen(QColor(20, 60, 130), 1.5));
    p.setBrush(QColor(50, 110, 200));
    p.drawPath(a);
    return img;
}

bool save(const QImage& img, const QString& dir, const QByteArray& name) {
    const QString path = dir + "/" + QString::fromLatin1(name);
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);
    const int in[4] = {7, 8, 9, 10};
    const int out[4] = {3, 4, 5, 6};
    bool ok = true;
    // Each picture also at twice the size ("@2x"), which the window shows on a screen scaled by two.
    for (const int scale : {1, 2}) {
        const auto name = [scale](const char* base) {
            return QByteArray(base) + (scale == 1 ? "" : "@2x") + ".png";
        };
        ok &= save(wiring(97, 158, in, 8, 7, Far::CurrentSource, "Iin", scale), dir, name("Image_78"));
        ok &= save(wiring(74, 185, in, 9, 7, Far::VoltageSource, "Uin1", scale), dir, name("Image_79"));
        ok &= save(wiring(97, 177, in, 10, 7, Far::VoltageSource, "Uin2", scale), dir, name("Image_710"));
        ok &= save(wiring(97, 181, out, 4, 3, Far::Load, "Uout", scale), dir, name("Image_34"));
        ok &= save(wiring(97, 162, out, 6, 5, Far::Load, "Iout", scale), dir, name("Image_56"));
        ok &= save(calibratedMark(scale), dir, name("CalibrationOK"));
        ok &= save(arrow(51, 37, false, scale), dir, name("Back51"));
        ok &= save(arrow(51, 37, true, scale), dir, name("Next51"));
        ok &= save(arrow(64, 50, false, scale), dir, name("Back64"));
        ok &= save(arrow(64, 50, true, scale), dir, name("Next64"));
    }
    return ok ? 0 : 1;
}
