#include "cli/history_listing.h"

#include "cli/exit_status.h"
#include "history/columns.h"
#include "history/csv.h"
#include "history/store.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

namespace Cli {

namespace {

const QString connection_name = QStringLiteral("orvanta-upgrade-history");

// The record's columns: one of an older version, not migrated by a reader, lacks the newest.
QStringList present_columns(QSqlDatabase& db) {
    QSqlQuery query(db);
    QStringList names;
    if (query.exec(QStringLiteral("PRAGMA table_info(upgrades)")))
        while (query.next())
            names << query.value(1).toString(); // cid, name, type, ...
    return names;
}

// Newest first; the filter as the history window applies it: contained, in any case.
bool read_rows(QSqlDatabase& db, const QString& serial, std::vector<History::UpgradeRow>* rows) {
    QSqlQuery query(db);
    QString sql = QStringLiteral("SELECT %1 FROM upgrades")
                      .arg(History::column_list_of_present(present_columns(db)));
    if (!serial.isEmpty())
        sql += QStringLiteral(" WHERE instr(lower(serial), lower(?)) > 0");
    query.prepare(sql + QStringLiteral(" ORDER BY id DESC"));
    if (!serial.isEmpty())
        query.addBindValue(serial);
    if (!query.exec())
        return false;
    const std::vector<History::Column>& columns = History::columns();
    while (query.next()) {
        History::UpgradeRow row;
        for (size_t i = 0; i < columns.size(); ++i)
            columns[i].set(row, query.value(static_cast<int>(i)));
        rows->push_back(row);
    }
    return true;
}

// Read-only: a reader never creates, migrates or locks the record for writing.
bool read_record(const QString& path, const QString& serial, std::vector<History::UpgradeRow>* rows,
                 QString* why) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        ok = db.open() && read_rows(db, serial, rows);
        if (!ok)
            *why = db.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_name);
    return ok;
}

void print_rows(const std::vector<History::UpgradeRow>& rows, const Settings::Texts& texts,
                Report& report, bool json) {
    const QStringList names = History::column_names();
    for (const History::UpgradeRow& row : rows) {
        const QStringList values = History::column_values(row);
        if (json) {
            QJsonObject fields;
            for (int i = 0; i < names.size() && i < values.size(); ++i)
                fields.insert(names[i], values[i]);
            report.row(fields);
            continue;
        }
        const QString from_to = texts.text(QStringLiteral("history_from_to"))
                                    .arg(row.revision_before, row.revision_after);
        report.step(QStringList{History::iso_utc(row.started_at), row.serial, row.port, row.product,
                                from_to, row.outcome, row.firmware_key_id, row.cause}
                        .join(QStringLiteral("  ")));
    }
}

} // namespace

int list_history(const Options& options, const Settings::Texts& texts, Report& report) {
    const QString path = History::default_path(options.simulator);
    std::vector<History::UpgradeRow> rows;
    QString why;
    if (QFileInfo::exists(path) && !read_record(path, options.serial, &rows, &why)) {
        std::fprintf(
            stderr, "%s\n",
            qPrintable(texts.text(QStringLiteral("cli_history_unreadable")).arg(path, why)));
        return failed;
    }
    if (options.csv) {
        const QByteArray csv = History::csv_of(rows);
        std::fwrite(csv.constData(), 1, static_cast<size_t>(csv.size()), stdout);
        return done;
    }
    if (!options.json)
        report.step(texts.text(QStringLiteral("history_headers"))
                        .split(QLatin1Char('|'))
                        .join(QStringLiteral("  ")));
    print_rows(rows, texts, report, options.json);
    return done;
}

} // namespace Cli
