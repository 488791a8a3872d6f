#include "gui/gui_settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace Settings {

CircleData CircleData_factory(const QJsonObject& o) {
    CircleData d;
    d.name = o.value(QLatin1String("name")).toString();
    apply_point(o.value(QLatin1String("center")).toObject(), d.center);
    d.radius = o.value(QLatin1String("radius")).toInt(0);
    d.pen_width = o.value(QLatin1String("pen_width")).toInt(0);
    d.color.setNamedColor(o.value(QLatin1String("color")).toString());
    return d;
}

// The fields are filled in one pass, so a field holding "%N" is never substituted again.
CircleData::operator QString() const {
    return QStringLiteral("Circle '%1': (%2,%3), r=%4, w=%5, color=%6")
        .arg(name, QString::number(center.x), QString::number(center.y), QString::number(radius),
             QString::number(pen_width), color.name(QColor::HexArgb));
}

GUI::GUI(const QString& json_text) : Texts(json_text) {
    // A parse error leaves an empty document, hence an empty top-level object.
    const QJsonObject top = QJsonDocument::fromJson(json_text.toUtf8()).object();
    for (const QJsonValue& v : top.value(QLatin1String("circles")).toArray())
        circles.push_back(CircleData_factory(v.toObject()));
}

GUI::operator QString() const {
    QString out = QStringLiteral("GUI settings:\n");
    if (!valid)
        return out + QStringLiteral("\tInvalid\n");
    for (const CircleData& c : circles)
        out += QLatin1Char('\t') + QString(c) + QLatin1Char('\n');
    for (const LabelData& l : labels)
        out += QLatin1Char('\t') + QString(l) + QLatin1Char('\n');
    return out;
}

QDebug operator<<(QDebug debug, const GUI& gui) {
    QDebugStateSaver saver(debug);
    debug.noquote() << QString(gui);
    return debug;
}

QDebug operator<<(QDebug debug, const CircleData& circle) {
    QDebugStateSaver saver(debug);
    debug << QString(circle);
    return debug;
}

GUI make_GUI(const QString& name) {
    return GUI(load_settings_file(name));
}

GUI shipped_GUI() {
    return make_GUI(shipped_settings_name());
}

} // namespace Settings
