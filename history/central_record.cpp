#include "history/central_record.h"

#include "history/central_connection.h"
#include "history/central_socket.h"
#include "history/columns.h"
#include "history/statement_watchdog.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

namespace History {

namespace {

using Kind = CentralTrouble::Kind;
using Watch = StatementWatchdog::Watch;

QString unique_connection_name() {
    static QAtomicInt next;
    return QStringLiteral("central-record-%1").arg(next.fetchAndAddRelaxed(1));
}

// The server's name of a column: `id` is the bench's id there, and `user` a reserved word.
QString server_name(const Column& c) {
    const QLatin1String name(c.name);
    if (name == QLatin1String("id"))
        return QStringLiteral("bench_id");
    if (name == QLatin1String("user"))
        return QStringLiteral("\"user\"");
    return name;
}

bool is_time(const Column& c) {
    return QLatin1String(c.name).endsWith(QLatin1String("_at"));
}

// The bench's empty text for "no time" is the server's NULL.
QVariant server_value(const Column& c, const UpgradeRow& row) {
    const QVariant v = c.get(row);
    if (is_time(c) && v.toString().isEmpty())
        return QVariant(QVariant::String);
    return v;
}

// The bench's columns that a server of `revision` has: those of later revisions are left out.
std::vector<Column> server_columns(int revision) {
    static const QStringList since_revision_2 = {
        QStringLiteral("firmware_key_id"), QStringLiteral("port"), QStringLiteral("serial_shared")};
    std::vector<Column> known;
    for (const Column& c : columns())
        if (revision >= 2 || !since_revision_2.contains(QLatin1String(c.name)))
            known.push_back(c);
    return known;
}

QString insert_statement(size_t row_count, int revision) {
    QStringList names, marks;
    for (const Column& c : server_columns(revision)) {
        names << server_name(c);
        marks << QStringLiteral("?");
    }
    const QString one_row = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    QStringList rows;
    for (size_t i = 0; i < row_count; ++i)
        rows << one_row;
    return QStringLiteral("INSERT INTO upgrades (%1) VALUES %2 ON CONFLICT (uuid) DO NOTHING")
        .arg(names.join(QLatin1Char(',')), rows.join(QLatin1Char(',')));
}

// Times come back as text in ISO 8601 UTC, as the bench writes them.
QString select_list(int revision) {
    QStringList names;
    for (const Column& c : server_columns(revision))
        names << (is_time(c) ? QStringLiteral("coalesce(to_char(%1 AT TIME ZONE 'UTC', "
                                              "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), '')")
                                   .arg(server_name(c))
                             : server_name(c));
    return names.join(QLatin1Char(','));
}

} // namespace

CentralRecord::CentralRecord(QString connection, StatementWatchdog* watchdog)
    : connection_(std::move(connection)), name_(unique_connection_name()), watchdog_(watchdog) {}

CentralRecord::~CentralRecord() {
    close();
    QSqlDatabase::removeDatabase(name_);
}

bool CentralRecord::is_open() const {
    return open_ && !(watchdog_ && watchdog_->fired());
}

// The watchdog lets go of the socket before its duplicate is closed.
void CentralRecord::close() {
    if (watchdog_)
        watchdog_->disarm();
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::database(name_, false).close();
    close_socket(socket_);
    open_ = false;
}

// At connection, a server that answered with a FATAL, or asked for a password we lack, refused us; anything else did not reach
// it. On a statement, an error without a state of the server's (a connection lost), a lost
// connection's class (08), an operator's intervention or a statement timeout (57) or a server
// short of resources (53) is the server away; the rest is the server's no to a statement.
CentralTrouble CentralRecord::failed(const QSqlError& error) {
    const QString words = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    const QString state_class = error.nativeErrorCode().left(2);
    Kind kind = Kind::not_reached;
    // libpq's own "fe_sendauth: no password supplied": the server asked for a password that
    // this bench does not have (no line in its pgpass file).
    if (!open_ && (words.contains(QLatin1String("FATAL:")) || words.contains(QLatin1String("fe_sendauth"))))
        kind = Kind::refused;
    else if (open_ && !state_class.isEmpty() && state_class != QLatin1String("08") &&
             state_class != QLatin1String("57") && state_class != QLatin1String("53"))
        kind = Kind::rejected;
    // A socket the watchdog shut down fails in libpq's words for a lost connection. Only a
    // statement can have been given up: a failed connect (open_ still false) is its own
    // trouble, whatever the watchdog did to the connection before it.
    if (open_ && watchdog_ && watchdog_->fired())
        kind = Kind::not_answering;
    close();
    return {kind, plain_server_words(words)};
}

CentralTrouble CentralRecord::open() {
    close();
    QSqlDatabase db = QSqlDatabase::contains(name_)
                          ? QSqlDatabase::database(name_, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    if (!db.isValid())
        return {Kind::not_reached, db.lastError().text()}; // the driver is not installed
    db.setConnectOptions(connection_);
    if (!db.open())
        return failed(db.lastError());
    open_ = true;
    socket_ = duplicate_socket(db);
    const Watch watch(watchdog_, socket_);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SET statement_timeout = %1").arg(central_statement_timeout_ms)))
        return failed(q.lastError());
    return read_schema(q);
}

// The server's schema: of the version this program ships to, and of which revision.
CentralTrouble CentralRecord::read_schema(QSqlQuery& q) {
    // A database without the table is not a central record; its words say so. All of its
    // columns: a server of revision 1 has no `revision`.
    if (!q.exec(QStringLiteral("SELECT * FROM schema_info"))) {
        CentralTrouble trouble = failed(q.lastError());
        if (trouble.kind == Kind::rejected)
            trouble.kind = Kind::unknown_schema;
        return trouble;
    }
    const bool answered = q.next();
    const int version = answered ? q.value(QStringLiteral("version")).toInt() : 0;
    const int revision_at = q.record().indexOf(QStringLiteral("revision"));
    revision_ = answered && revision_at >= 0 ? q.value(revision_at).toInt() : 1;
    if (version != central_schema_version) {
        close();
        return {Kind::unknown_schema, QStringLiteral("schema version %1").arg(version)};
    }
    return {};
}

CentralTrouble CentralRecord::ship(const std::vector<UpgradeRow>& rows) {
    if (rows.empty())
        return {};
    const Watch watch(watchdog_, socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    // Read again: a server upgraded while the bench is connected gets its new columns at once.
    if (CentralTrouble trouble = read_schema(q))
        return trouble;
    if (!q.prepare(insert_statement(rows.size(), revision_)))
        return failed(q.lastError());
    const std::vector<Column> shipped = server_columns(revision_);
    for (const UpgradeRow& row : rows)
        for (const Column& c : shipped)
            q.addBindValue(server_value(c, row));
    // One statement is one transaction: every row lands, or none.
    if (!q.exec())
        return failed(q.lastError());
    return {};
}

std::optional<FleetUpgrade> CentralRecord::newest_upgrade(const QString& serial,
                                                          CentralTrouble* trouble) {
    *trouble = {};
    const Watch watch(watchdog_, socket_);
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.prepare(QStringLiteral("SELECT bench, to_char(happened_at AT TIME ZONE 'UTC', "
                             "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), revision_before, revision_after, "
                             "bench <> current_user FROM upgrades WHERE serial = ? AND outcome = ? "
                             "ORDER BY happened_at DESC, id DESC LIMIT 1"));
    q.addBindValue(serial);
    q.addBindValue(outcome_name(Outcome::upgraded));
    if (!q.exec()) {
        *trouble = failed(q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    return FleetUpgrade{q.value(0).toString(),
                        QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs),
                        q.value(2).toString(), q.value(3).toString(), q.value(4).toBool()};
}

RowPage CentralRecord::page(const RowQuery& query, CentralTrouble* trouble) {
    *trouble = {};
    RowPage page;
    page.request = query.request;
    page.offset = query.offset;
    const Watch watch(watchdog_, socket_);
    const QString where = QStringLiteral(" WHERE strpos(upper(serial), upper(?)) > 0");
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.prepare(QStringLiteral("SELECT %1, count(*) OVER () FROM upgrades%2 "
                             "ORDER BY happened_at DESC, id DESC LIMIT ? OFFSET ?")
                  .arg(select_list(revision_), where));
    q.addBindValue(query.serial_filter.isNull() ? QStringLiteral("") : query.serial_filter);
    q.addBindValue(query.count);
    q.addBindValue(query.offset);
    if (!q.exec()) {
        *trouble = failed(q.lastError());
        return page;
    }
    const std::vector<Column> read = server_columns(revision_);
    const int total_at = int(read.size());
    while (q.next()) {
        UpgradeRow row;
        for (int i = 0; i < total_at; ++i)
            read[size_t(i)].set(row, q.value(i));
        page.total = q.value(total_at).toInt();
        page.rows.push_back(row);
    }
    return page;
}

} // namespace History
