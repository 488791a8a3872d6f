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
    }
    return QString();
}

const QStringList& column_names() {
    static const QStringList names = {QStringLiteral("id"),
                                      QStringLiteral("started_at"),
                                      QStringLiteral("ended_at"),
                                      QStringLiteral("serial"),
                                      QStringLiteral("product"),
                                      QStringLiteral("revision_before"),
                                      QStringLiteral("revision_after"),
                                      QStringLiteral("firmware_sha256"),
                                      QStringLiteral("outcome"),
                                      QStringLiteral("cause"),
                                      QStringLiteral("download_ms"),
                                      QStringLiteral("readback_ms"),
                                      QStringLiteral("tool_version"),
                                      QStringLiteral("host"),
                                      QStringLiteral("user")};
    return names;
}

QString iso_utc(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

namespace {
QString number_or_empty(const std::optional<qint64>& value) {
    return value ? QString::number(*value) : QString();
}
} // namespace

QStringList column_values(const UpgradeRow& r) {
    return {QString::number(r.id),
            iso_utc(r.started_at),
            iso_utc(r.ended_at),
            r.serial,
            r.product,
            r.revision_before,
            r.revision_after,
            r.firmware_sha256,
            r.outcome,
            r.cause,
            number_or_empty(r.download_ms),
            number_or_empty(r.readback_ms),
            r.tool_version,
            r.host,
            r.user};
}

} // namespace History
