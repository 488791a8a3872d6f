#include "history/upgrade_row.h"

namespace History {

QString outcome_name(Outcome outcome) {
    switch (outcome) {
    case Outcome::upgraded:
        return QStringLiteral("upgraded");
    case Outcome::already_current:
        return QStringLiteral("already_current");
    case Outcome::differs:
        return QStringLiteral("differs");
    case Outcome::download_failed:
        return QStringLiteral("download_failed");
    case Outcome::readback_failed:
        return QStringLiteral("readback_failed");
    case Outcome::unit_lost:
        return QStringLiteral("unit_lost");
    case Outcome::stopped:
        return QStringLiteral("stopped");
    case Outcome::in_progress:
        return QStringLiteral("in_progress");
    case Outcome::interrupted:
        return QStringLiteral("interrupted");
    }
    return QString();
}

QString phase_name(Phase phase) {
    switch (phase) {
    case Phase::started:
        return QStringLiteral("started");
    case Phase::download:
        return QStringLiteral("download");
    case Phase::downloaded:
        return QStringLiteral("downloaded");
    case Phase::read_back:
        return QStringLiteral("read_back");
    }
    return QString();
}

// Kept in the record's `cause`, like dfu-util's words: the record's own language, not the
// window's.
QString interrupted_cause(const QString& phase) {
    if (phase == phase_name(Phase::download))
        return QStringLiteral("program ended during the download");
    if (phase == phase_name(Phase::downloaded))
        return QStringLiteral("program ended after the download, before the read-back");
    if (phase == phase_name(Phase::read_back))
        return QStringLiteral("program ended during the read-back");
    return QStringLiteral("program ended before the download");
}

QString iso_utc(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace History
