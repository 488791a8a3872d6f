#pragma once
// The central record: the fleet's PostgreSQL database (Qt SQL's QPSQL driver, over libpq), as
// one bench sees it. Used from one thread only (the shipper's), which may wait on the network:
// every wait is bounded by the connection's timeouts and a statement timeout, and each
// statement also by the bench's own bound (StatementWatchdog), which a stopped server cannot
// hold up.

#include "history/row_page.h"
#include "history/upgrade_row.h"

#include <QDateTime>
#include <QMetaType>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <optional>
#include <vector>

namespace History {

// The version of the server's schema (schema_info) this program ships to. Within it, the
// revision (schema_info.revision; a server without the column is of revision 1) counts columns
// added that older benches may leave out: 2 added `firmware_key_id` and `port`. A server of an
// older revision gets only the columns it has, as the benches of its time ship them.
constexpr int central_schema_version = 1;
// A statement that takes longer is ended by the server, and its trouble taken like any other.
constexpr int central_statement_timeout_ms = 5000;

class StatementWatchdog;

struct CentralTrouble {
    enum class Kind {
        none,
        not_reached,    // no connection: the server is away, or does not answer in time
        refused,        // the server answered no: a wrong password, an unknown role, no access
        unknown_schema, // the database is not a central record of a version this program knows
        rejected,       // a statement failed on a reachable server
        not_answering,  // a statement got no answer within the bench's bound: the watchdog's
    };
    Kind kind = Kind::none;
    QString why; // libpq's or the server's words, never with a password
    explicit operator bool() const { return kind != Kind::none; }
};

// A unit's newest upgrade on the whole fleet.
struct FleetUpgrade {
    QString bench; // the login role that shipped it
    QDateTime happened_at;
    QString revision_before;
    QString revision_after;
    bool elsewhere = false; // on another bench than this one
};

class CentralRecord {
public:
    // `connection`: a libpq connection string, already bounded (bounded_connection). With a
    // watchdog (used in this record's thread only), each statement is bounded by it too.
    explicit CentralRecord(QString connection, StatementWatchdog* watchdog = nullptr);
    ~CentralRecord();
    CentralRecord(const CentralRecord&) = delete;
    CentralRecord& operator=(const CentralRecord&) = delete;

    // Connects and checks the schema's version; closes again on any trouble.
    CentralTrouble open();
    bool is_open() const; // false too once the watchdog has shut the connection down
    void close();

    // The rows in one transaction; a row the server has already (by uuid) is left as it is.
    CentralTrouble ship(const std::vector<UpgradeRow>& rows);
    std::optional<FleetUpgrade> newest_upgrade(const QString& serial, CentralTrouble* trouble);
    // The fleet's rows, newest first, for the history window.
    RowPage page(const RowQuery& query, CentralTrouble* trouble);

private:
    CentralTrouble failed(const QSqlError& error);
    CentralTrouble read_schema(QSqlQuery& q);

    const QString connection_;
    const QString name_;
    StatementWatchdog* const watchdog_;
    int socket_ = -1; // the connection's socket, duplicated for the watchdog (central_socket.h)
    bool open_ = false;
    int revision_ = 1; // of the server's schema, read when it was opened
};

} // namespace History

Q_DECLARE_METATYPE(History::FleetUpgrade)
