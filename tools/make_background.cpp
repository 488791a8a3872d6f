// Build-time tool: draws the main window's background picture (665 x 517 JPEG).
// A dark, calm backdrop keeps the light-grey instruction texts readable; a light strip at the
// bottom carries the black status line; the unit is drawn on the right half with its MODEL
// button where the window's circle marker points (298, 290). Nothing is drawn under the
// install button (207-457, 417-457) or the mode labels at the right (480-650, 380-450).
//
// Usage: make_background <output.jpg>

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

constexpr int width = 665;
constexpr int height = 517;
constexpr QPoint model_button(298, 290);
constexpr int status_strip_top = 474;
constexpr qreal stand_x = 415; // the head's middle

void draw_backdrop(QPainter& p) {
    QLinearGradient sky(0, 0, 0, status_strip_top);
    sky.setColorAt(0.0, QColor(28, 34, 44));
    sky.setColorAt(1.0, QColor(14, 17, 23));
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

// The unit: a lamp head on a short stand, seen from the front, with its control buttons.
void draw_unit(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);

    // Head: a rounded housing whose left button row carries the MODEL button.
    const QRectF head(250, 225, 330, 130);
    QLinearGradient body(head.topLeft(), head.bottomLeft());
    body.setColorAt(0.0, QColor(92, 100, 112));
    body.setColorAt(1.0, QColor(52, 58, 66));
    p.setPen(QPen(QColor(130, 140, 152), 2));
    p.setBrush(body);
    p.drawRoundedRect(head, 26, 26);

    // Light window.
    QLinearGradient lens(QPointF(360, 250), QPointF(360, 330));
    lens.setColorAt(0.0, QColor(250, 244, 214));
    lens.setColorAt(1.0, QColor(214, 196, 140));
    p.setPen(QPen(QColor(40, 44, 50), 2));
    p.setBrush(lens);
    p.drawRoundedRect(QRectF(345, 250, 210, 80), 14, 14);

    // Buttons: MODEL (marked by the window's circle), then two smaller ones.
    p.setPen(QPen(QColor(25, 28, 32), 2));
    p.setBrush(QColor(200, 204, 210));
    p.drawEllipse(model_button, 12, 12);
    p.setBrush(QColor(150, 156, 164));
    p.drawEllipse(QPoint(298, 250), 8, 8);
    p.drawEllipse(QPoint(298, 330), 8, 8);

    // A short arm and a small base, centred under the head: they end above the install
    // button and left of the mode labels (x from 480, y 380 to 450), which need a calm ground.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 76, 86));
    p.drawRect(QRectF(stand_x - 8, 355, 16, 22));
    p.setBrush(QColor(60, 66, 74));
    p.drawRoundedRect(QRectF(stand_x - 55, 376, 110, 16), 7, 7);

    // USB socket on the base.
    p.setBrush(QColor(20, 22, 26));
    p.drawRect(QRectF(stand_x + 38, 380, 9, 7));
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
        draw_unit(p);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "JPG", 92)) {
        std::fprintf(stderr, "make_background: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
