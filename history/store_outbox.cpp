// The record's outbox to the central record: which finished rows the server has not yet taken,
// and the marks of those it has. A mark is set only after the server has committed the row, so
// a kill between the two ships the row again, and the server keeps it once (by its uuid).

#include "history/sql.h"
#include "history/store.h"

#include <QStringList>
#include <QVariant>

namespace History {

namespace {

QString unshipped_where() {
    return QStringLiteral("WHERE outcome <> '%1' AND NOT EXISTS "
                          "(SELECT 1 FROM shipped WHERE shipped.uuid = upgrades.uuid)")
        .arg(outcome_name(Outcome::in_progress));
}

} // namespace

std::vector<UpgradeRow> Store::unshipped(int limit, Trouble* trouble) {
    return select(unshipped_where() + QStringLiteral(" ORDER BY id LIMIT ?"), {limit}, trouble);
}

int Store::count_unshipped(Trouble* trouble) {
    *trouble = open_ ? reopen_if_moved() : Trouble{};
    if (!open_ || *trouble)
        return 0;
    return sql::single_value(database(),
                             QStringLiteral("SELECT count(*) FROM upgrades ") + unshipped_where(),
                             trouble)
        .toInt();
}

// Under the shared lock, like every write; one transaction for the batch.
Trouble Store::mark_shipped(const QStringList& uuids) {
    const RecordLock lock(path_, RecordLock::Mode::shared);
    if (!lock.is_held())
        return {lock.is_contended() ? Trouble::Kind::busy : Trouble::Kind::unavailable, lock.why()};
    if (Trouble t = reopen_if_moved())
        return t;
    return sql::in_transaction(database(), [&uuids](QSqlQuery& q) {
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO shipped (uuid) VALUES (?)"));
        for (const QString& uuid : uuids) {
            q.addBindValue(uuid);
            if (Trouble t = sql::exec(q))
                return t;
        }
        return Trouble{};
    });
}

} // namespace History
