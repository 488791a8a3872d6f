// The ring markers: geometry around the centre and the drawn stroke.

#include "gui/circle.h"

#include <QImage>
#include <QtTest>

class TestCircle : public QObject {
    Q_OBJECT
private slots:
    void geometry_data();
    void geometry();
    void ring_stays_inside_and_is_not_filled();
    void add_circles_creates_one_shown_widget_per_entry();
};

void TestCircle::geometry_data() {
    QTest::addColumn<QPoint>("center");
    QTest::addColumn<int>("radius");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("shipped marker at scale 1.0") << QPoint(298, 290) << 20 << QRect(278, 270, 40, 40);
    QTest::newRow("shipped marker at scale 1.5") << QPoint(447, 435) << 30 << QRect(417, 405, 60, 60);
    QTest::newRow("near the corner") << QPoint(5, 5) << 10 << QRect(-5, -5, 20, 20);
}

void TestCircle::geometry() {
    QFETCH(QPoint, center);
    QFETCH(int, radius);
    QFETCH(QRect, expected);
    QWidget parent;
    Circle c({center, radius, 5, QColor(Qt::red)}, &parent);
    QCOMPARE(c.geometry(), expected);
    QCOMPARE(c.minimumSize(), expected.size());
    QCOMPARE(c.maximumSize(), expected.size());
    QCOMPARE(c.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);

    c.setCenter(center + QPoint(10, -3));
    QCOMPARE(c.geometry(), expected.translated(10, -3));
    QCOMPARE(c.data().center, center + QPoint(10, -3));
}

void TestCircle::ring_stays_inside_and_is_not_filled() {
    Circle c({QPoint(298, 290), 20, 5, QColor(0xFF, 0x40, 0x40, 0x60)});
    QImage image(c.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    c.render(&image, QPoint(), QRegion(), QWidget::RenderFlags()); // the ring only

    // Pen of 5 around the circle of radius 18 at (20, 20): the stroke covers 15.5 to 20.5.
    const QColor on_ring = image.pixelColor(2, 20);
    QVERIFY2(on_ring.alpha() >= 0x50 && on_ring.alpha() <= 0x70, "translucent as configured");
    QCOMPARE(on_ring.red(), 0xFF);
    QVERIFY(on_ring.green() < 0x60);
    for (const QPoint& p : {QPoint(20, 2), QPoint(37, 20), QPoint(20, 37)})
        QVERIFY(image.pixelColor(p).alpha() > 0x40);
    for (const QPoint& p : {QPoint(20, 20), QPoint(10, 20), QPoint(0, 0), QPoint(39, 39)})
        QCOMPARE(image.pixelColor(p).alpha(), 0);
}

void TestCircle::add_circles_creates_one_shown_widget_per_entry() {
    QWidget parent;
    add_circles(std::vector<Settings::CircleData>{}, &parent);
    add_circles(std::vector<Circle::Data>{}, &parent);
    QVERIFY(parent.findChildren<Circle*>().isEmpty());

    Settings::CircleData a;
    a.name = QStringLiteral("a");
    a.center = {100, 50};
    a.radius = 10;
    a.pen_width = 2;
    a.color = QColor(Qt::blue);
    Settings::CircleData b = a;
    b.name = QStringLiteral("b");
    b.center = {20, 30};
    b.radius = 4;
    add_circles({a, b}, &parent);
    add_circles({Circle::Data{QPoint(7, 8), 3, 1, QColor(Qt::green)}}, &parent);

    const QList<Circle*> circles = parent.findChildren<Circle*>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(circles.size(), 3);
    QCOMPARE(circles[0]->geometry(), QRect(90, 40, 20, 20));
    QCOMPARE(circles[0]->data().pen_width, 2);
    QCOMPARE(circles[0]->data().color, QColor(Qt::blue));
    QCOMPARE(circles[1]->geometry(), QRect(16, 26, 8, 8));
    QCOMPARE(circles[2]->geometry(), QRect(4, 5, 6, 6));
    for (Circle* c : circles)
        QVERIFY(c->isVisibleTo(&parent));
}

QTEST_MAIN(TestCircle)
#include "test_circle.moc"
