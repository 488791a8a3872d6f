#include "history/csv.h"

#include <QSaveFile>

#include <algorithm>

namespace History {

namespace {

QByteArray csv_line(const QStringList& fields) {
    QStringList quoted;
    for (const QString& f : fields)
        quoted << csv_field(f);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

} // namespace

QString csv_field(const QString& value) {
    static const QString special = QStringLiteral(",\"\r\n");
    const bool needs_quotes =
        std::any_of(value.begin(), value.end(), [](QChar c) { return special.contains(c); });
    if (!needs_quotes)
        return value;
    QString doubled = value;
    doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QByteArray csv_of(const std::vector<UpgradeRow>& rows) {
    QByteArray out = csv_line(column_names());
    for (const UpgradeRow& r : rows)
        out += csv_line(column_values(r));
    return out;
}

bool write_csv(const QString& path, const std::vector<UpgradeRow>& rows, QString* why) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv_of(rows)) < 0 || !file.commit()) {
        *why = file.errorString();
        return false;
    }
    return true;
}

} // namespace History
