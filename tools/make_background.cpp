// Build-time tool: draws the main window's background picture (665 x 517 JPEG).
// A dark, calm backdrop keeps the light-grey instruction texts readable; a light strip at the
// bottom carries the black status line; the unit is drawn on the right half with its MODEL
// button where the window's circle marker points (298, 290). Nothing is drawn under the
// install button (207-457, 417-457) or the mode labels at the right (480-650, 380-450).
//
// Usage: make_background <output.jpg>

#include "unit_drawing.h"

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cstdio>

namespace {

constexpr int width = 665;
constexpr int height = 517;
constexpr int status_strip_top = 474;

void draw_backdrop(QPainter& p) {
    QLinearGradient sky(0, 0, 0, status_strip_top);
    sky.setColorAt(0.0, QColor(unit_drawing::ground_top));
    sky.setColorAt(1.0, QColor(unit_drawing::ground_bottom));
    p.fillRect(0, 0, width, status_strip_top, sky);

    QRadialGradient glow(QPointF(470, 250), 260);
    glow.setColorAt(0.0, QColor(70, 90, 110, 120));
    glow.setColorAt(1.0, QColor(70, 90, 110, 0));
    p.fillRect(0, 0, width, status_strip_top, glow);

    QLinearGradient strip(0, status_strip_top, 0, height);
    strip.setColorAt(0.0, QColor(214, 218, 222));
    strip.setColorAt(1.0, QColor(236, 238, 240));
    p.fillRect(0, status_strip_top, width, height - status_strip_top, strip);
    p.setPen(QPen(QColor(120, 170, 110), 2));
    p.drawLine(0, status_strip_top, width, status_strip_top);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_background <output.jpg>\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    QImage image(width, height, QImage::Format_RGB32);
    {
        QPainter p(&image);
        draw_backdrop(p);
        unit_drawing::draw_unit(p);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "JPG", 92)) {
        std::fprintf(stderr, "make_background: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
