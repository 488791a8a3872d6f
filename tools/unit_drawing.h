#pragma once
// The Orvanta unit as the build-time pictures show it: a lamp head on a short stand, seen from
// the front, with its control buttons. Drawn in the coordinates of the main window's background
// (665 x 517), where the MODEL button sits under the window's circle marker; other pictures (the
// program's icon) scale the painter to place it.

#include <QPoint>
#include <QRectF>
#include <QRgb>

class QPainter;

namespace unit_drawing {

// Where the window's circle marker points.
constexpr QPoint model_button(298, 290);

// Everything draw_unit paints lies inside this rectangle (pen widths included).
constexpr QRectF bounds(249, 224, 332, 168);

// The dark, calm ground the unit stands on, from top to bottom.
constexpr QRgb ground_top = qRgb(28, 34, 44);
constexpr QRgb ground_bottom = qRgb(14, 17, 23);

// Paints the unit with antialiasing on; leaves pen and brush changed.
void draw_unit(QPainter& p);

} // namespace unit_drawing
