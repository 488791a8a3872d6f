#pragma once
// The window's texts, label positions and circle markers, read from settings_GUI.json.

#include <QColor>
#include <QDebug>
#include <QJsonObject>
#include <QString>

#include <vector>

namespace Settings {

// A point in unscaled window coordinates, with named fields as the settings file has them.
struct Point {
    qint32 x = 0;
    qint32 y = 0;
};

// One label entry: where and how a text of the window is shown, and the text itself.
struct LabelData {
    QString id;                     // null when the entry has no "id"
    Point position{-1, -1};         // applied only when both coordinates are positive
    qint32 size = -1;               // pixel size before scaling; applied only when positive
    QString font = QLatin1String(""); // family name; applied only when not empty
    QString text = QLatin1String(""); // plain or rich text, may hold %1 and %2
    bool create = true;             // false: the entry only supplies a text to lookups by id
    bool white = true;              // light grey text when true, black when false

    operator QString() const;
};

// One ring drawn over the background picture.
struct CircleData {
    QString name;
    Point center;
    qint32 radius = 0;
    qint32 pen_width = 0;
    QColor color; // invalid when the file names none

    operator QString() const;
};

LabelData LabelData_factory(const QJsonObject& o);
CircleData CircleData_factory(const QJsonObject& o);

// The parsed settings file; never modified after construction.
class GUI {
public:
    GUI() = default; // invalid and empty
    // Parses a settings text; a text that is not JSON gives a valid GUI without entries.
    explicit GUI(const QString& json_text);

    // The first entry with this id (exact match), or null after a warning.
    const LabelData* label(const QString& id) const;
    // The text of label(id), or an empty string.
    QString text(const QString& id) const;

    operator QString() const;

    bool valid = false;
    std::vector<CircleData> circles;
    std::vector<LabelData> labels;
};

QDebug operator<<(QDebug debug, const GUI& gui);
QDebug operator<<(QDebug debug, const CircleData& circle);
QDebug operator<<(QDebug debug, const LabelData& label);

// The file's whole text; throws a QString when it cannot be opened.
QString load_settings_file(const QString& name);
GUI make_GUI(const QString& name);
// The settings the program carries in its resources.
GUI shipped_GUI();

} // namespace Settings
