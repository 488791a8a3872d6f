#include "history/columns.h"

namespace History {

namespace {

// A null QString would be bound as NULL; the text columns hold empty strings instead.
template <QString UpgradeRow::*member>
Column text(const char* name) {
    return {name, "TEXT NOT NULL",
            [](const UpgradeRow& r) {
                const QString& s = r.*member;
                return QVariant(s.isNull() ? QStringLiteral("") : s);
            },
            [](UpgradeRow& r, const QVariant& v) { r.*member = v.toString(); }};
}

// Empty while unknown (an attempt in progress has not ended).
template <QDateTime UpgradeRow::*member>
Column time(const char* name) {
    return {name, "TEXT NOT NULL",
            [](const UpgradeRow& r) {
                const QString s = iso_utc(r.*member);
                return QVariant(s.isNull() ? QStringLiteral("") : s);
            },
            [](UpgradeRow& r, const QVariant& v) {
                r.*member = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
            }};
}

template <std::optional<qint64> UpgradeRow::*member>
Column number(const char* name) {
    return {name, "INTEGER",
            [](const UpgradeRow& r) {
                const std::optional<qint64>& n = r.*member;
                return n ? QVariant(*n) : QVariant(QVariant::LongLong);
            },
            [](UpgradeRow& r, const QVariant& v) {
                r.*member = v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
            }};
}

// A yes or no, as 1 or 0.
template <bool UpgradeRow::*member>
Column flag(const char* name) {
    return {name, "INTEGER NOT NULL DEFAULT 0",
            [](const UpgradeRow& r) { return QVariant(r.*member ? 1 : 0); },
            [](UpgradeRow& r, const QVariant& v) { r.*member = v.toInt() != 0; }};
}

Column id() {
    return {"id", "INTEGER PRIMARY KEY", [](const UpgradeRow& r) { return QVariant(r.id); },
            [](UpgradeRow& r, const QVariant& v) { r.id = v.toLongLong(); }};
}

} // namespace

// `uuid` and `phase` came with the second version of the record, `firmware_key_id`, `port` and
// `serial_shared` with the third; they stand last, where adding them to an older record puts
// them.
const std::vector<Column>& columns() {
    static const std::vector<Column> all = {
        id(),
        time<&UpgradeRow::started_at>("started_at"),
        time<&UpgradeRow::ended_at>("ended_at"),
        text<&UpgradeRow::serial>("serial"),
        text<&UpgradeRow::product>("product"),
        text<&UpgradeRow::revision_before>("revision_before"),
        text<&UpgradeRow::revision_after>("revision_after"),
        text<&UpgradeRow::firmware_sha256>("firmware_sha256"),
        text<&UpgradeRow::outcome>("outcome"),
        text<&UpgradeRow::cause>("cause"),
        number<&UpgradeRow::download_ms>("download_ms"),
        number<&UpgradeRow::readback_ms>("readback_ms"),
        text<&UpgradeRow::tool_version>("tool_version"),
        text<&UpgradeRow::host>("host"),
        text<&UpgradeRow::user>("user"),
        text<&UpgradeRow::uuid>("uuid"),
        text<&UpgradeRow::phase>("phase"),
        text<&UpgradeRow::firmware_key_id>("firmware_key_id"),
        text<&UpgradeRow::port>("port"),
        flag<&UpgradeRow::serial_shared>("serial_shared"),
    };
    return all;
}

QString column_list(const QStringList& except) {
    QStringList names;
    for (const Column& c : columns())
        if (!except.contains(QLatin1String(c.name)))
            names << QLatin1String(c.name);
    return names.join(QLatin1Char(','));
}

QString column_list_of_present(const QStringList& present) {
    QStringList items;
    for (const Column& c : columns()) {
        const QLatin1String name(c.name);
        if (present.contains(name))
            items << name;
        else
            items << QStringLiteral("%1 AS %2")
                         .arg(QLatin1String(c.get(UpgradeRow()).isNull() ? "NULL" : "''"), name);
    }
    return items.join(QLatin1Char(','));
}

QStringList column_names() {
    QStringList names;
    for (const Column& c : columns())
        names << QLatin1String(c.name);
    return names;
}

QStringList column_values(const UpgradeRow& row) {
    QStringList values;
    for (const Column& c : columns()) {
        const QVariant v = c.get(row);
        values << (v.isNull() ? QString() : v.toString());
    }
    return values;
}

} // namespace History
