#include "dfu/failure_cause.h"

#include <QRegularExpression>

#include <vector>

namespace DFU {

namespace {

struct Marker {
    QRegularExpression words;
    Cause cause;
};

// dfu-util 0.9's own words for the failures the window explains. Looked for in this order in
// standard error and output; the first that occurs decides.
const std::vector<Marker>& markers() {
    static const std::vector<Marker> table = {
        // libusb_open failed: the operating system lets this user not open the unit. The
        // listing then leaves the unit out and exits 0; -U and -D go on to find no unit.
        {QRegularExpression(QStringLiteral("Cannot open DFU device")), Cause::no_access},
        {QRegularExpression(QStringLiteral("Cannot claim interface")), Cause::busy},
        // A control transfer failed with LIBUSB_ERROR_NO_DEVICE (-4), or the unit listed a
        // moment ago was no longer there when the run began.
        {QRegularExpression(QStringLiteral("returned -4(?!\\d)|LIBUSB_ERROR_NO_DEVICE|"
                                           "No DFU capable USB device available")),
         Cause::lost},
        // LIBUSB_ERROR_PIPE (-9): the unit stalled the request.
        {QRegularExpression(QStringLiteral("returned -9(?!\\d)|LIBUSB_ERROR_PIPE")),
         Cause::refused},
    };
    return table;
}

QString last_line(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = it->trimmed();
        if (!line.isEmpty())
            return line;
    }
    return QString();
}

} // namespace

Failure classify(const CmdResult& result) {
    if (result.failed_to_start)
        return {Cause::not_started, result.start_error};
    const QString detail = last_line(result.error_output);
    if (result.exit_code == -1)
        return {Cause::crashed, detail};
    const QString words = result.error_output + QLatin1Char('\n') + result.output;
    const Marker& open_failed = markers().front();
    if (result.exit_code == 0)
        return words.contains(open_failed.words) ? Failure{Cause::no_access, detail} : Failure{};
    for (const Marker& marker : markers())
        if (words.contains(marker.words))
            return {marker.cause, detail};
    return {Cause::other, detail};
}

QString to_QString(Cause cause) {
    switch (cause) {
    case Cause::none:
        return QStringLiteral("none");
    case Cause::no_access:
        return QStringLiteral("no_access");
    case Cause::busy:
        return QStringLiteral("busy");
    case Cause::lost:
        return QStringLiteral("lost");
    case Cause::refused:
        return QStringLiteral("refused");
    case Cause::crashed:
        return QStringLiteral("crashed");
    case Cause::not_started:
        return QStringLiteral("not_started");
    case Cause::other:
        return QStringLiteral("other");
    }
    return QString();
}

Failure::operator QString() const {
    return detail.isEmpty() ? to_QString(cause) : to_QString(cause) + " (" + detail + ")";
}

QDebug operator<<(QDebug dbg, const Failure& failure) {
    QDebugStateSaver saver(dbg);
    dbg.noquote() << QString(failure);
    return dbg;
}

} // namespace DFU
