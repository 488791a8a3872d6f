#pragma once
// The record's rows as RFC 4180 CSV: a header row of the column names, then one record per
// row, fields separated by commas, lines ended by CRLF. A field holding a comma, a double
// quote, a CR or an LF is quoted, its quotes doubled.

#include "history/upgrade_row.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace History {

QString csv_field(const QString& value);
// UTF-8.
QByteArray csv_of(const std::vector<UpgradeRow>& rows);
// Writes csv_of(rows); false with the system's words in why when the file cannot be written.
bool write_csv(const QString& path, const std::vector<UpgradeRow>& rows, QString* why);

} // namespace History
