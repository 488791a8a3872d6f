#pragma once
// The record's rows as RFC 4180 CSV: a header row of the column names, then one record per
// row, fields separated by commas, lines ended by CRLF. A field holding a comma, a double
// quote, a CR or an LF is quoted, its quotes doubled. A field that a spreadsheet would run as a
// formula (it begins with =, +, -, @, a tab or a CR) gets a single quote in front, so that the
// spreadsheet shows it as text; a plain negative integer is left as the number it is.

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
