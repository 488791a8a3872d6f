#include "history/csv.h"

#include <QSaveFile>

#include <algorithm>

namespace History {

namespace {

// A negative integer ("-5") stays a number: a spreadsheet runs nothing in it, and a number column
// (a duration) must stay one. Anything else after a minus ("-B8", "-1+A2") is neutralised.
bool is_negative_integer(const QString& value) {
    return value.size() > 1 && value.front() == QLatin1Char('-') &&
           std::all_of(value.begin() + 1, value.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

// What a spreadsheet reads as the start of a formula (or, after a tab or CR, may do so).
bool starts_formula(const QString& value) {
    static const QString starters = QStringLiteral("=+-@\t\r");
    return !value.isEmpty() && starters.contains(value.front()) && !is_negative_integer(value);
}

QByteArray csv_line(const QStringList& fields) {
    QStringList quoted;
    for (const QString& f : fields)
        quoted << csv_field(f);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

} // namespace

QString csv_field(const QString& value) {
    static const QString special = QStringLiteral(",\"\r\n");
    const QString text = starts_formula(value) ? QLatin1Char('\'') + value : value;
    const bool needs_quotes =
        std::any_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); });
    if (!needs_quotes)
        return text;
    QString doubled = text;
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
