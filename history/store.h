#pragma once
// The record of upgrades: a SQLite database (Qt SQL's QSQLITE driver) with one table,
// `upgrades`. Every row is committed in a transaction of its own, in WAL mode with
// synchronous=FULL, so that a kill or a power cut loses nothing committed; a busy timeout lets
// two programs write to it at once without losing a row. Used from one thread.

#include "history/upgrade_row.h"

#include <QString>

#include <optional>
#include <vector>

namespace History {

// The record's file: the application's data directory (QStandardPaths::AppDataLocation)
// followed by "/history.sqlite".
QString default_path();

// The schema's version, kept in PRAGMA user_version. A record written by an older program is
// read as it is; one of a newer program too, as long as it keeps these columns.
constexpr int schema_version = 1;

class Store {
public:
    explicit Store(QString path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    struct Opened {
        bool ok = false;
        QString moved_aside_to; // a file that was not a database or damaged now lies here
        QString why;            // !ok: the system's words
    };
    // Makes the directory and the file when missing. A file that is not a database, or is
    // damaged, is moved aside (never deleted) with the time in its name, and a new one begun.
    Opened open();
    bool is_open() const { return open_; }
    const QString& path() const { return path_; }

    // One row in a transaction of its own; opens the record first if it is not open. False,
    // with the system's words in why, when it could not be written.
    bool append(const UpgradeRow& row, QString* why);
    // Newest first; only the serials that contain the filter (any case), when one is given.
    std::vector<UpgradeRow> rows(const QString& serial_filter = QString()) const;
    // The newest `upgraded` row of the serial.
    std::optional<UpgradeRow> last_upgrade(const QString& serial) const;

    struct Problem {
        QString why;
        bool damaged = false; // not a database, or a damaged one
        bool busy = false;    // another program is setting the record up at this moment
    };

private:
    std::optional<Problem> connect();
    std::optional<Problem> connect_when_free();
    std::optional<Problem> prepare_schema();
    bool move_aside(Opened* result);
    void close();

    const QString path_;
    const QString connection_;
    bool open_ = false;
};

} // namespace History
