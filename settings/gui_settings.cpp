#include "settings/gui_settings.h"

#include "files/support_misc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace Settings {

namespace {

// Reads "x" and "y" of a coordinate object, each only when present.
void apply_point(const QJsonObject& o, Point& p) {
    if (o.contains(QLatin1String("x")))
        p.x = o.value(QLatin1String("x")).toInt(0);
    if (o.contains(QLatin1String("y")))
        p.y = o.value(QLatin1String("y")).toInt(0);
}

} // namespace

LabelData LabelData_factory(const QJsonObject& o) {
    LabelData d;
    if (o.contains(QLatin1String("id")))
        d.id = o.value(QLatin1String("id")).toString();
    if (o.contains(QLatin1String("position")))
        apply_point(o.value(QLatin1String("position")).toObject(), d.position);
    if (o.contains(QLatin1String("size")))
        d.size = o.value(QLatin1String("size")).toInt(0);
    if (o.contains(QLatin1String("font")))
        d.font = o.value(QLatin1String("font")).toString();
    if (o.contains(QLatin1String("create")))
        d.create = o.value(QLatin1String("create")).toBool(false);
    if (o.contains(QLatin1String("white")))
        d.white = o.value(QLatin1String("white")).toBool(false);
    if (o.contains(QLatin1String("text")))
        d.text = o.value(QLatin1String("text")).toString();
    return d;
}

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
        .arg(name, QString::number(center.x), QString::number(center.y),
             QString::number(radius), QString::number(pen_width),
             color.name(QColor::HexArgb));
}

LabelData::operator QString() const {
    const QString not_white = white ? QString() : QStringLiteral("not-white");
    const QString separator = (!white && !create) ? QStringLiteral(" ") : QString();
    const QString no_create = create ? QString() : QStringLiteral("no-create");
    return QStringLiteral("Label '%1': (%2,%3) {%4%5%6} font='%7':%8: '%9'")
        .arg(id, QString::number(position.x), QString::number(position.y), not_white,
             separator, no_create, font, QString::number(size), text);
}

GUI::GUI(const QString& json_text) {
    // A parse error leaves an empty document, hence an empty top-level object.
    const QJsonObject top = QJsonDocument::fromJson(json_text.toUtf8()).object();
    for (const QJsonValue& v : top.value(QLatin1String("circles")).toArray())
        circles.push_back(CircleData_factory(v.toObject()));
    for (const QJsonValue& v : top.value(QLatin1String("labels")).toArray())
        labels.push_back(LabelData_factory(v.toObject()));
    valid = true;
}

const LabelData* GUI::label(const QString& id) const {
    for (const LabelData& l : labels)
        if (l.id == id)
            return &l;
    qWarning() << "No matching label with id" << id << "found";
    return nullptr;
}

QString GUI::text(const QString& id) const {
    const LabelData* l = label(id);
    return l ? l->text : QLatin1String("");
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

QDebug operator<<(QDebug debug, const LabelData& label) {
    QDebugStateSaver saver(debug);
    debug << QString(label);
    return debug;
}

QString load_settings_file(const QString& name) {
    return support_misc::load_text_file(support_misc::maybe_use_file_instead_of_resource(name));
}

GUI make_GUI(const QString& name) {
    return GUI(load_settings_file(name));
}

GUI shipped_GUI() {
    return make_GUI(QStringLiteral(":resources/settings_GUI.json"));
}

} // namespace Settings
