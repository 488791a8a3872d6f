#include "settings/texts.h"

#include "files/support_misc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace Settings {

void apply_point(const QJsonObject& o, Point& p) {
    if (o.contains(QLatin1String("x")))
        p.x = o.value(QLatin1String("x")).toInt(0);
    if (o.contains(QLatin1String("y")))
        p.y = o.value(QLatin1String("y")).toInt(0);
}

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

LabelData::operator QString() const {
    const QString not_white = white ? QString() : QStringLiteral("not-white");
    const QString separator = (!white && !create) ? QStringLiteral(" ") : QString();
    const QString no_create = create ? QString() : QStringLiteral("no-create");
    return QStringLiteral("Label '%1': (%2,%3) {%4%5%6} font='%7':%8: '%9'")
        .arg(id, QString::number(position.x), QString::number(position.y), not_white, separator,
             no_create, font, QString::number(size), text);
}

Texts::Texts(const QString& json_text) {
    // A parse error leaves an empty document, hence an empty top-level object.
    const QJsonObject top = QJsonDocument::fromJson(json_text.toUtf8()).object();
    for (const QJsonValue& v : top.value(QLatin1String("labels")).toArray())
        labels.push_back(LabelData_factory(v.toObject()));
    valid = true;
}

const LabelData* Texts::label(const QString& id) const {
    for (const LabelData& l : labels)
        if (l.id == id)
            return &l;
    qWarning() << "No matching label with id" << id << "found";
    return nullptr;
}

QString Texts::text(const QString& id) const {
    const LabelData* l = label(id);
    return l ? l->text : QLatin1String("");
}

QDebug operator<<(QDebug debug, const LabelData& label) {
    QDebugStateSaver saver(debug);
    debug << QString(label);
    return debug;
}

QString load_settings_file(const QString& name) {
    return support_misc::load_text_file(support_misc::maybe_use_file_instead_of_resource(name));
}

QString shipped_settings_name() {
    return QStringLiteral(":resources/settings_GUI.json");
}

Texts shipped_texts() {
    return Texts(load_settings_file(shipped_settings_name()));
}

} // namespace Settings
