#pragma once
// The record's columns, written once: the table's definition, the statements' bindings, the
// reading of a row and the CSV export are all made from this list.

#include "history/upgrade_row.h"

#include <QVariant>

#include <vector>

namespace History {

struct Column {
    const char* name;
    const char* sql_type; // in a new record; a migrated one has the same names
    // The value as stored: text, a number, or null for none.
    QVariant (*get)(const UpgradeRow& row);
    void (*set)(UpgradeRow& row, const QVariant& value);
};

// `id` first; the order of a new record's table.
const std::vector<Column>& columns();

// "a,b,c" of every column but those named in `except`.
QString column_list(const QStringList& except = {});

// Every column for a SELECT from a table that has only the columns `present` (a record of an
// older version, read as it is): a missing one as its empty value, "'' AS port".
QString column_list_of_present(const QStringList& present);

} // namespace History
