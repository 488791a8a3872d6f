#pragma once
// The window's settings: the texts and label entries (settings/texts.h) and the circle markers,
// read from settings_GUI.json. Apart from the texts because a circle carries a QColor (Qt Gui).

#include "settings/texts.h"

#include <QColor>
#include <QDebug>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace Settings {

// One ring drawn over the background picture.
struct CircleData {
    QString name;
    Point center;
    qint32 radius = 0;
    qint32 pen_width = 0;
    QColor color; // invalid when the file names none

    operator QString() const;
};

CircleData CircleData_factory(const QJsonObject& o);

// The parsed settings file; never modified after construction.
class GUI : public Texts {
public:
    GUI() = default; // invalid and empty
    // Parses a settings text; a text that is not JSON gives a valid GUI without entries.
    explicit GUI(const QString& json_text);

    operator QString() const;

    std::vector<CircleData> circles;
};

QDebug operator<<(QDebug debug, const GUI& gui);
QDebug operator<<(QDebug debug, const CircleData& circle);

GUI make_GUI(const QString& name);
// The settings the program carries in its resources.
GUI shipped_GUI();

} // namespace Settings
