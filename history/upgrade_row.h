#pragma once
// One outcome of the workflow as the record keeps it: a row of the table `upgrades`.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace History {

enum class Outcome {
    upgraded,        // an install whose read-back matched
    already_current, // a verification on connection that matched
    differs,         // the unit's firmware is not the carried one
    download_failed, // the download failed, the unit stayed
    readback_failed, // the firmware could not be read back
    unit_lost,       // the unit went away during the install
    stopped,         // Escape, Q or closing the window ended it
};

// The name the record stores ("upgraded", "already_current", ...).
QString outcome_name(Outcome outcome);

struct UpgradeRow {
    qint64 id = 0;        // given by the record
    QDateTime started_at; // UTC
    QDateTime ended_at;   // UTC
    QString serial;
    QString product;
    QString revision_before; // what the unit's information block said, or empty
    QString revision_after;  // the carried revision when it matched, else empty
    QString firmware_sha256; // of the carried image
    QString outcome;         // an outcome_name(); read back as stored
    QString cause;           // dfu-util's own words, where there are any
    std::optional<qint64> download_ms;
    std::optional<qint64> readback_ms;
    QString tool_version;
    QString host;
    QString user;
};

// The table's columns in their order, `id` first; the CSV export's header.
const QStringList& column_names();
// The row's values in column order as text: times in ISO 8601 UTC, empty for no value.
QStringList column_values(const UpgradeRow& row);
// ISO 8601 in UTC with milliseconds, e.g. "2026-12-09T02:31:07.120Z".
QString iso_utc(const QDateTime& time);

} // namespace History
