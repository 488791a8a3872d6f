#pragma once
// What the record's files share about running SQL through Qt SQL: SQLite's result codes made
// into a Trouble, and statements run with the trouble returned instead of thrown away.

#include "history/store.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <functional>

namespace History {
namespace sql {

Trouble trouble_of(const QSqlError& error);
// Runs one statement; a failure's trouble, or none.
Trouble run(QSqlQuery& query, const QString& statement);
// Runs a prepared statement; likewise.
Trouble exec(QSqlQuery& query);
// The steps in one transaction (BEGIN IMMEDIATE ... COMMIT), rolled back on the first failure.
Trouble in_transaction(QSqlDatabase db, const std::function<Trouble(QSqlQuery&)>& steps);
// The first column of the first row of a statement, for pragmas and counts.
QVariant single_value(QSqlDatabase db, const QString& statement, Trouble* trouble);

} // namespace sql

// Whether the record is of a version this program may write: a newer (or negative) one is not.
Trouble check_version(QSqlDatabase db);
// Creates the table of a new record, or migrates an older one, in one transaction.
Trouble prepare_schema(QSqlDatabase db);

} // namespace History
