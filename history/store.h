#pragma once
// The record of upgrades: a SQLite database (Qt SQL's QSQLITE driver) with one table,
// `upgrades`. Every row is written in a transaction of its own, in WAL mode with
// synchronous=FULL, so a kill or a power cut loses nothing committed. Used from one thread
// only (the recorder's): it waits for nothing longer than a short busy timeout, and says what
// kept it from a write instead of waiting, so the caller can try again later.

#include "history/record_lock.h"
#include "history/row_page.h"
#include "history/upgrade_row.h"

#include <QSqlDatabase>
#include <QString>

#include <optional>
#include <vector>

namespace History {

// The application's data directory (QStandardPaths::AppDataLocation) and "/history.sqlite", or
// "/history-simulator.sqlite" for the simulator's plays, which never mix with the real record.
QString default_path(bool simulator);

// The schema's version, kept in PRAGMA user_version: 2 added `uuid`, `phase` and the
// `in_progress` and `interrupted` outcomes; 3 added `firmware_key_id`, `port` and `serial_shared`. A record of
// version 1 or 2 is migrated; one of a newer version (or a negative one) is never written into
// and never moved aside.
constexpr int schema_version = 3;

// What kept the record from an operation.
struct Trouble {
    enum class Kind {
        none,
        busy,         // another program holds the record or its lock: try again soon
        damaged,      // not a database, or a damaged one
        newer,        // written by a newer version of the program: not ours to write
        unavailable,  // the directory or file cannot be made, opened or written (read-only, full)
    };
    Kind kind = Kind::none;
    QString why; // the system's or SQLite's words
    explicit operator bool() const { return kind != Kind::none; }
};

// How many finished rows one port has of one outcome (a station's figures).
struct OutcomeCount {
    QString port; // empty: rows of units without a known port
    QString outcome;
    qint64 count = 0;
};
using OutcomeCounts = std::vector<OutcomeCount>;

// What the record says of one unit when it is connected.
struct UnitFacts {
    std::optional<UpgradeRow> last_upgrade; // its newest `upgraded` row
    // Its newest row that tells whether it holds a whole image, when that one was interrupted.
    std::optional<UpgradeRow> interrupted;
};

class Store {
public:
    explicit Store(QString path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const QString& path() const { return path_; }
    bool is_open() const { return open_; }

    // Makes the directory and the file when missing, migrates an older record. A file that is
    // not a database, or is damaged, is moved aside (never deleted) with the time in its name
    // and a new record begun; `moved_aside_to` then names where it went.
    Trouble open(QString* moved_aside_to);
    // Moves a record found damaged aside under the exclusive lock and begins a new one.
    Trouble move_aside(QString* moved_aside_to);

    // Writes the row in one transaction: a new uuid is inserted; a row of a known uuid replaces
    // it only while that one is still in progress, so a row is completed only once. Damage
    // found on the way is moved aside and the row written into the new record.
    Trouble put(const UpgradeRow& row, QString* moved_aside_to);
    // Every row of this host still in progress becomes `interrupted`, with the phase it reached
    // in `cause`. Returns how many in `count`.
    Trouble interrupt_unfinished(const QString& host, int* count);

    // Reads: an empty answer when the record is not open, and the trouble met in `trouble`
    // (damage found here is for the caller to move aside with open()).
    RowPage page(const RowQuery& query, Trouble* trouble);
    std::vector<UpgradeRow> rows(const QString& serial_filter, Trouble* trouble);
    UnitFacts facts(const QString& serial, Trouble* trouble);
    // Every finished row, counted by port and outcome, in port and outcome order.
    OutcomeCounts outcome_counts(Trouble* trouble);
    // The outbox to the central record: finished rows without a mark of having been shipped,
    // oldest first, at most `limit`; how many there are; and the marks set for rows the server
    // has taken. A row in progress waits until it ends.
    std::vector<UpgradeRow> unshipped(int limit, Trouble* trouble);
    int count_unshipped(Trouble* trouble);
    Trouble mark_shipped(const QStringList& uuids);
    // Closes the record; the next put or open opens it again.
    void close();

private:
    Trouble connect();
    Trouble connect_unlocked();
    Trouble reopen_if_moved();
    Trouble locked_put(const UpgradeRow& row);
    std::vector<UpgradeRow> select(const QString& where_and_order, const QVariantList& values,
                                   Trouble* trouble);
    QSqlDatabase database() const;

    const QString path_;
    const QString connection_;
    bool open_ = false;
    FileIdentity opened_; // the file the connection has open
};

} // namespace History
