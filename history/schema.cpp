// The record's schema: made new from the column list, or migrated from an older version, in one
// transaction with every row kept.

#include "history/columns.h"
#include "history/sql.h"

#include <QStringList>
#include <QVariant>

namespace History {

namespace {

using sql::run;

QString create_table() {
    QStringList definitions;
    for (const Column& c : columns())
        definitions << QStringLiteral("%1 %2").arg(QLatin1String(c.name), QLatin1String(c.sql_type));
    return QStringLiteral("CREATE TABLE upgrades (%1)").arg(definitions.join(QStringLiteral(", ")));
}

// A version 4 UUID made by SQLite, for rows written before rows had one.
const char* const random_uuid =
    "lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || substr(hex(randomblob(2)), 2)"
    " || '-' || substr('89ab', 1 + abs(random() % 4), 1) || substr(hex(randomblob(2)), 2) || '-'"
    " || hex(randomblob(6)))";

// The identity is unique across benches; a unit's rows in their order (by id) and the few
// rows in progress are found by index, whatever the size of the record.
const QStringList& indexes() {
    static const QStringList all = {
        QStringLiteral("CREATE UNIQUE INDEX upgrades_uuid ON upgrades (uuid)"),
        QStringLiteral("CREATE INDEX upgrades_serial_id ON upgrades (serial, id)"),
        QStringLiteral("CREATE INDEX upgrades_in_progress ON upgrades (id) "
                       "WHERE outcome = 'in_progress'"),
    };
    return all;
}

QStringList migration_from_first_version() {
    QStringList steps = {
        QStringLiteral("ALTER TABLE upgrades ADD COLUMN uuid TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("ALTER TABLE upgrades ADD COLUMN phase TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("UPDATE upgrades SET uuid = %1").arg(QLatin1String(random_uuid)),
        QStringLiteral("DROP INDEX IF EXISTS upgrades_serial"),
    };
    return steps + indexes();
}

// The signer and the port of rows written before rows had them are not known: empty; their
// serials were not known to be shared.
QStringList migration_from_second_version() {
    return {
        QStringLiteral("ALTER TABLE upgrades ADD COLUMN firmware_key_id TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("ALTER TABLE upgrades ADD COLUMN port TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("ALTER TABLE upgrades ADD COLUMN serial_shared INTEGER NOT NULL DEFAULT 0"),
    };
}

// From `version` to this one, each version's steps in turn.
QStringList steps_from(int version) {
    if (version == 0)
        return QStringList{create_table()} + indexes();
    QStringList steps;
    if (version < 2)
        steps += migration_from_first_version();
    if (version < 3)
        steps += migration_from_second_version();
    return steps;
}

Trouble run_all(QSqlQuery& q, const QStringList& steps) {
    for (const QString& step : steps)
        if (Trouble t = run(q, step))
            return t;
    return {};
}

// Inside the transaction: the version is read again, as another program may have just made
// or migrated the record.
Trouble bring_up_to_date(QSqlQuery& q) {
    if (Trouble t = run(q, QStringLiteral("PRAGMA user_version")))
        return t;
    const int version = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    if (version == schema_version)
        return {};
    if (Trouble t = run_all(q, steps_from(version)))
        return t;
    return run(q, QStringLiteral("PRAGMA user_version = %1").arg(schema_version));
}

} // namespace

Trouble check_version(QSqlDatabase db) {
    Trouble trouble;
    const int version = sql::single_value(db, QStringLiteral("PRAGMA user_version"), &trouble).toInt();
    if (!trouble && (version > schema_version || version < 0))
        return {Trouble::Kind::newer, QStringLiteral("schema version %1").arg(version)};
    return trouble;
}

Trouble prepare_schema(QSqlDatabase db) {
    Trouble trouble;
    const int version = sql::single_value(db, QStringLiteral("PRAGMA user_version"), &trouble).toInt();
    if (!trouble && version != schema_version)
        trouble = sql::in_transaction(db, &bring_up_to_date);
    if (trouble)
        return trouble;
    // The marks of rows already on the central record, beside the rows rather than in them:
    // the version stays, so an older program still writes its rows into this record, and they
    // are shipped when this one runs again. Made when missing, a no-op otherwise.
    QSqlQuery q(db);
    return run(q, QStringLiteral("CREATE TABLE IF NOT EXISTS shipped (uuid TEXT PRIMARY KEY) "
                                 "WITHOUT ROWID"));
}

} // namespace History
