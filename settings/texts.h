#pragma once
// The program's texts and the window's label entries, read from settings_GUI.json. Qt Core
// only: the command-line program says what the window says, without Qt Gui.

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

// Reads "x" and "y" of a coordinate object, each only when present.
void apply_point(const QJsonObject& o, Point& p);

// One label entry: where and how a text of the window is shown, and the text itself.
struct LabelData {
    QString id;                       // null when the entry has no "id"
    Point position{-1, -1};           // applied only when both coordinates are positive
    qint32 size = -1;                 // pixel size before scaling; applied only when positive
    QString font = QLatin1String(""); // family name; applied only when not empty
    QString text = QLatin1String(""); // plain or rich text, may hold %1 and %2
    bool create = true;               // false: the entry only supplies a text to lookups by id
    bool white = true;                // light grey text when true, black when false

    operator QString() const;
};

LabelData LabelData_factory(const QJsonObject& o);

// The parsed label entries; never modified after construction.
class Texts {
public:
    Texts() = default; // invalid and empty
    // Parses a settings text; a text that is not JSON gives valid texts without entries.
    explicit Texts(const QString& json_text);

    // The first entry with this id (exact match), or null after a warning.
    const LabelData* label(const QString& id) const;
    // The text of label(id), or an empty string.
    QString text(const QString& id) const;

    bool valid = false;
    std::vector<LabelData> labels;
};

QDebug operator<<(QDebug debug, const LabelData& label);

// The file's whole text; throws a QString when it cannot be opened.
QString load_settings_file(const QString& name);
// The name of the settings the program carries in its resources.
QString shipped_settings_name();
// The texts the program carries in its resources.
Texts shipped_texts();

} // namespace Settings
