#include "gui/circle.h"

#include <QPainter>
#include <QPen>
#include <QSizePolicy>

Circle::Circle(Data data, QWidget* parent) : QWidget(parent), data_(std::move(data)) {
    setup();
}

void Circle::setup() {
    setBackgroundRole(QPalette::Base);
    QSizePolicy policy;
    policy.setControlType(QSizePolicy::DefaultType);
    setSizePolicy(policy);
    setFixedSize(2 * data_.radius, 2 * data_.radius);
    move(data_.center.x() - data_.radius, data_.center.y() - data_.radius);
}

void Circle::setCenter(QPoint point) {
    data_.center = point;
    move(point.x() - data_.radius, point.y() - data_.radius);
}

void Circle::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QBrush(data_.color, Qt::SolidPattern), static_cast<qreal>(data_.pen_width),
                        Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    // Inset by half the pen, so that the stroke stays inside the widget.
    const int h = data_.pen_width / 2;
    const int r = data_.radius - h;
    painter.drawEllipse(QRect(h, h, 2 * r, 2 * r));
}

void add_circles(const std::vector<Circle::Data>& circles, QWidget* parent) {
    for (const Circle::Data& d : circles)
        (new Circle(d, parent))->show();
}

void add_circles(const std::vector<Settings::CircleData>& circles, QWidget* parent) {
    std::vector<Circle::Data> data;
    data.reserve(circles.size());
    for (const Settings::CircleData& c : circles)
        data.push_back({QPoint(c.center.x, c.center.y), c.radius, c.pen_width, c.color});
    add_circles(data, parent);
}
