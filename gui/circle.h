#pragma once
// A transparent widget that draws one coloured ring, to mark a spot on the background picture.

#include "gui/gui_settings.h"

#include <QColor>
#include <QPoint>
#include <QWidget>

#include <vector>

class Circle : public QWidget {
    Q_OBJECT
public:
    struct Data {
        QPoint center; // in pixels of the parent widget
        int radius = 0; // outer radius
        int pen_width = 0;
        QColor color; // alpha included
    };

    Circle(Data data, QWidget* parent = nullptr);

    // Fixed size of the ring's bounding square, placed around the centre.
    void setup();
    void setCenter(QPoint point);

    const Data& data() const { return data_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Data data_;
};

// One shown Circle per entry, in list order, owned by parent.
void add_circles(const std::vector<Circle::Data>& circles, QWidget* parent);
// The entries' names are not used.
void add_circles(const std::vector<Settings::CircleData>& circles, QWidget* parent);
