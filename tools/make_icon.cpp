// Build-time tool: draws the program's icon for the desktop's hicolor theme, one PNG per size:
// the unit of the main window's background on a dark rounded tile, with a green arrow above it
// that says "upgrade". The same drawing code as the background, scaled to each size.
//
// Usage: make_icon <theme-dir> <icon-name> <size>...
// writes <theme-dir>/<size>x<size>/apps/<icon-name>.png for every size.

#include "unit_drawing.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

// Drawn on a 256-unit square and scaled: the tile, then the unit and the arrow above it.
constexpr qreal canvas = 256;

void draw_tile(QPainter& p) {
    QLinearGradient ground(0, 0, 0, canvas);
    ground.setColorAt(0.0, QColor(unit_drawing::ground_top).lighter(130));
    ground.setColorAt(1.0, QColor(unit_drawing::ground_bottom));
    p.setPen(Qt::NoPen);
    p.setBrush(ground);
    p.drawRoundedRect(QRectF(8, 8, canvas - 16, canvas - 16), 40, 40);
}

void draw_arrow(QPainter& p) {
    QPainterPath arrow;
    arrow.moveTo(128, 28);
    arrow.lineTo(176, 80);
    arrow.lineTo(146, 80);
    arrow.lineTo(146, 112);
    arrow.lineTo(110, 112);
    arrow.lineTo(110, 80);
    arrow.lineTo(80, 80);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(120, 190, 110));
    p.drawPath(arrow);
}

// The unit fills the tile's width below the arrow.
void draw_unit_scaled(QPainter& p) {
    const QRectF target(24, 124, canvas - 48,
                        (canvas - 48) * unit_drawing::bounds.height() /
                            unit_drawing::bounds.width());
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / unit_drawing::bounds.width(),
            target.height() / unit_drawing::bounds.height());
    p.translate(-unit_drawing::bounds.topLeft());
    unit_drawing::draw_unit(p);
    p.restore();
}

QImage draw_icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / canvas, size / canvas);
    draw_tile(p);
    draw_arrow(p);
    draw_unit_scaled(p);
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_icon <theme-dir> <icon-name> <size>...\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    const QString theme_dir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 16 || size > 1024) {
            std::fprintf(stderr, "make_icon: not an icon size: %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(theme_dir).arg(size);
        const QString path = dir + "/" + name + ".png";
        if (!QDir().mkpath(dir) || !draw_icon(size).save(path, "PNG")) {
            std::fprintf(stderr, "make_icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
