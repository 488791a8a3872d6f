#include "unit_drawing.h"

#include <QLinearGradient>
#include <QPainter>

namespace unit_drawing {

namespace {
constexpr qreal stand_x = 415; // the head's middle
} // namespace

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

} // namespace unit_drawing
