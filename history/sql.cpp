#include "history/sql.h"

#include <QVariant>

namespace History {
namespace sql {

namespace {
// SQLite's primary result codes that decide what to do next.
constexpr int sqlite_busy = 5;
constexpr int sqlite_locked = 6;
constexpr int sqlite_corrupt = 11;
constexpr int sqlite_notadb = 26;
} // namespace

Trouble trouble_of(const QSqlError& error) {
    using Kind = Trouble::Kind;
    const int code = error.nativeErrorCode().toInt() & 0xff;
    // SQLite's own words ("database is locked"), without Qt's ("Unable to fetch row").
    const QString why = (error.databaseText().isEmpty() ? error.text() : error.databaseText()).trimmed();
    if (code == sqlite_busy || code == sqlite_locked)
        return {Kind::busy, why};
    if (code == sqlite_corrupt || code == sqlite_notadb)
        return {Kind::damaged, why};
    return {Kind::unavailable, why.isEmpty() ? QStringLiteral("unknown error") : why};
}

Trouble run(QSqlQuery& query, const QString& statement) {
    if (query.exec(statement))
        return {};
    return trouble_of(query.lastError());
}

Trouble exec(QSqlQuery& query) {
    if (query.exec())
        return {};
    return trouble_of(query.lastError());
}

Trouble in_transaction(QSqlDatabase db, const std::function<Trouble(QSqlQuery&)>& steps) {
    QSqlQuery q(db);
    Trouble trouble = run(q, QStringLiteral("BEGIN IMMEDIATE"));
    if (trouble)
        return trouble;
    trouble = steps(q);
    // A statement left unfinished keeps its read snapshot and would make the commit fail.
    q.finish();
    if (!trouble)
        trouble = run(q, QStringLiteral("COMMIT"));
    if (trouble)
        q.exec(QStringLiteral("ROLLBACK"));
    return trouble;
}

QVariant single_value(QSqlDatabase db, const QString& statement, Trouble* trouble) {
    QSqlQuery q(db);
    *trouble = run(q, statement);
    if (*trouble)
        return {};
    const QVariant value = q.next() ? q.value(0) : QVariant();
    q.finish();
    return value;
}

} // namespace sql
} // namespace History
