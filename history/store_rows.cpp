// The record's rows: written one transaction each, and read for the window and the hint line.

#include "history/columns.h"
#include "history/sql.h"
#include "history/store.h"

#include <QVariant>

namespace History {

namespace {

using Kind = Trouble::Kind;

// A new uuid is inserted; a known one is replaced only while it is in progress.
QString put_statement() {
    const QStringList names = column_list({QStringLiteral("id")}).split(QLatin1Char(','));
    QStringList marks, updates;
    for (const QString& name : names) {
        marks << QStringLiteral("?");
        if (name != QLatin1String("uuid"))
            updates << QStringLiteral("%1 = excluded.%1").arg(name);
    }
    return QStringLiteral("INSERT INTO upgrades (%1) VALUES (%2) ON CONFLICT (uuid) DO UPDATE SET "
                          "%3 WHERE upgrades.outcome = '%4'")
        .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')),
             updates.join(QLatin1Char(',')), outcome_name(Outcome::in_progress));
}

void bind(QSqlQuery& q, const UpgradeRow& row) {
    for (const Column& c : columns())
        if (QLatin1String(c.name) != QLatin1String("id"))
            q.addBindValue(c.get(row));
}

UpgradeRow row_at(const QSqlQuery& q) {
    UpgradeRow row;
    int i = 0;
    for (const Column& c : columns())
        c.set(row, q.value(i++));
    return row;
}

const QString serial_contains = QStringLiteral("instr(upper(serial), upper(?)) > 0");

} // namespace

Trouble Store::put(const UpgradeRow& row, QString* moved_aside_to) {
    if (!open_)
        if (Trouble t = open(moved_aside_to))
            return t;
    const Trouble trouble = locked_put(row);
    if (trouble.kind != Kind::damaged)
        return trouble;
    if (Trouble t = move_aside(moved_aside_to))
        return t;
    return locked_put(row);
}

// Under the shared lock, into the file the path names now.
Trouble Store::locked_put(const UpgradeRow& row) {
    const RecordLock lock(path_, RecordLock::Mode::shared);
    if (!lock.is_held())
        return {lock.is_contended() ? Kind::busy : Kind::unavailable, lock.why()};
    if (Trouble t = reopen_if_moved())
        return t;
    return sql::in_transaction(database(), [&row](QSqlQuery& q) {
        q.prepare(put_statement());
        bind(q, row);
        return sql::exec(q);
    });
}

Trouble Store::interrupt_unfinished(const QString& host, int* count) {
    *count = 0;
    Trouble trouble;
    // The outcome as a literal, so that SQLite finds the rows by their partial index.
    const QString where = QStringLiteral("WHERE outcome = '%1' AND host = ? ORDER BY id")
                              .arg(outcome_name(Outcome::in_progress));
    std::vector<UpgradeRow> unfinished = select(where, {host}, &trouble);
    if (trouble || unfinished.empty())
        return trouble;
    QString moved;
    for (UpgradeRow& row : unfinished) {
        row.outcome = outcome_name(Outcome::interrupted);
        row.cause = interrupted_cause(row.phase);
        if ((trouble = put(row, &moved)))
            return trouble;
        ++*count;
    }
    return {};
}

std::vector<UpgradeRow> Store::select(const QString& where_and_order, const QVariantList& values,
                                      Trouble* trouble) {
    std::vector<UpgradeRow> found;
    *trouble = open_ ? reopen_if_moved() : Trouble{};
    if (!open_ || *trouble)
        return found;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM upgrades %2").arg(column_list(), where_and_order));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if ((*trouble = sql::exec(q)))
        return found;
    while (q.next())
        found.push_back(row_at(q));
    if (q.lastError().isValid())
        *trouble = sql::trouble_of(q.lastError());
    return found;
}

RowPage Store::page(const RowQuery& query, Trouble* trouble) {
    RowPage page;
    page.request = query.request;
    page.offset = query.offset;
    const QString where = query.serial_filter.isEmpty() ? QString()
                                                        : QStringLiteral("WHERE ") + serial_contains;
    const QVariantList filter =
        query.serial_filter.isEmpty() ? QVariantList() : QVariantList{query.serial_filter};
    page.rows = select(where + QStringLiteral(" ORDER BY id DESC LIMIT ? OFFSET ?"),
                       filter + QVariantList{query.count, query.offset}, trouble);
    if (*trouble || !open_)
        return page;
    QSqlQuery q(database());
    q.prepare(QStringLiteral("SELECT count(*) FROM upgrades ") + where);
    for (const QVariant& v : filter)
        q.addBindValue(v);
    if (!(*trouble = sql::exec(q)) && q.next())
        page.total = q.value(0).toInt();
    return page;
}

std::vector<UpgradeRow> Store::rows(const QString& serial_filter, Trouble* trouble) {
    return select(QStringLiteral("WHERE ") + serial_contains + QStringLiteral(" ORDER BY id DESC"),
                  {serial_filter.isNull() ? QStringLiteral("") : serial_filter}, trouble);
}

OutcomeCounts Store::outcome_counts(Trouble* trouble) {
    OutcomeCounts counts;
    *trouble = Trouble();
    if (!open_)
        return counts;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT port, outcome, count(*) FROM upgrades WHERE outcome <> ? "
                             "GROUP BY port, outcome ORDER BY port, outcome"));
    q.addBindValue(outcome_name(Outcome::in_progress));
    if ((*trouble = sql::exec(q)))
        return counts;
    while (q.next())
        counts.push_back({q.value(0).toString(), q.value(1).toString(), q.value(2).toLongLong()});
    return counts;
}

// Whether the unit holds a whole image is told by its newest install or verification that
// matched, or by an interrupted one after them.
UnitFacts Store::facts(const QString& serial, Trouble* trouble) {
    UnitFacts facts;
    const QString newest = QStringLiteral("WHERE serial = ? AND outcome IN (%1) "
                                          "ORDER BY id DESC LIMIT 1");
    std::vector<UpgradeRow> found = select(newest.arg(QStringLiteral("?")),
                                           {serial, outcome_name(Outcome::upgraded)}, trouble);
    if (!found.empty())
        facts.last_upgrade = found.front();
    if (*trouble)
        return facts;
    found = select(newest.arg(QStringLiteral("?, ?, ?")),
                   {serial, outcome_name(Outcome::interrupted), outcome_name(Outcome::upgraded),
                    outcome_name(Outcome::already_current)},
                   trouble);
    if (!found.empty() && found.front().outcome == outcome_name(Outcome::interrupted))
        facts.interrupted = found.front();
    return facts;
}

} // namespace History
