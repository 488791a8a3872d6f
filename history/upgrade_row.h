#pragma once
// One attempt of the workflow as the record keeps it: a row of the table `upgrades`.

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
    in_progress,     // written ahead: the attempt has not come to its outcome yet
    interrupted,     // found in progress at a later start: the program ended in its `phase`
};

// The name the record stores ("upgraded", "already_current", ...).
QString outcome_name(Outcome outcome);

// How far an attempt in progress has come; the record keeps the name in `phase`.
enum class Phase {
    started,    // the click is taken, dfu-util not yet started
    download,   // the download runs
    downloaded, // written; the unit is read again before its read-back
    read_back,  // the read-back and comparison run
};
QString phase_name(Phase phase);

// What an attempt found in progress at a start is said to have ended in.
QString interrupted_cause(const QString& phase_name);

struct UpgradeRow {
    qint64 id = 0;        // given by the record, in the order rows were written
    QString uuid;         // the row's identity on every bench and server, made with the row
    QDateTime started_at; // UTC
    QDateTime ended_at;   // UTC; invalid while in progress and when interrupted
    QString serial;
    QString product;
    QString revision_before; // what the unit's information block said, or empty
    QString revision_after;  // the carried revision when it matched, else empty
    QString firmware_sha256; // of the carried DfuSe file
    QString firmware_key_id; // its signer's minisign key id (16 upper-case hexadecimal digits),
                             // or "development, unsigned"; empty in rows of older records
    QString port;            // the unit's USB port path as dfu-util lists it ("1-1.3"), or empty
    bool serial_shared = false; // another unit attached at the time reported the same serial
    QString outcome;         // an outcome_name(); read back as stored
    QString phase;           // a phase_name(), the last one the attempt reached
    QString cause;           // dfu-util's own words, where there are any
    std::optional<qint64> download_ms;
    std::optional<qint64> readback_ms;
    QString tool_version;
    QString host;
    QString user;
};

// The table's columns in their order, `id` first; the CSV export's header.
QStringList column_names();
// The row's values in column order as text: times in ISO 8601 UTC, empty for no value.
QStringList column_values(const UpgradeRow& row);
// ISO 8601 in UTC with milliseconds, e.g. "2026-12-09T02:31:07.120Z".
QString iso_utc(const QDateTime& time);

} // namespace History
