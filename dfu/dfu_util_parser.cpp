#include "dfu/dfu_util_parser.h"

#include <QDebug>
#include <QRegularExpression>
#include <QStringList>

#include <map>

const QString DfuUtilParser::prefix_RE = QStringLiteral("^Found DFU: \\[0483:df11\\] ver=2200");
const QString DfuUtilParser::extract_serial_RE = QStringLiteral("serial=\\\"([0-9a-fA-F]+)\\\"");
const QString DfuUtilParser::extract_path_RE = QStringLiteral(", path=\\\"([0-9][0-9.-]*)\\\",");
const QString DfuUtilParser::extract_devnum_RE = QStringLiteral(", devnum=([0-9]{1,3}),");

namespace {

// Compiled once per process, on first use (thread-safe initialisation of local statics).
const QRegularExpression& prefix_expression() {
    static const QRegularExpression re(DfuUtilParser::prefix_RE);
    return re;
}

const QRegularExpression& serial_expression() {
    static const QRegularExpression re(DfuUtilParser::extract_serial_RE);
    return re;
}

const QRegularExpression& path_expression() {
    static const QRegularExpression re(DfuUtilParser::extract_path_RE);
    return re;
}

const QRegularExpression& devnum_expression() {
    static const QRegularExpression re(DfuUtilParser::extract_devnum_RE);
    return re;
}

// Group 1 of the expression's first match in the line, or an empty string.
QString captured(const QRegularExpression& re, const QString& line) {
    const QRegularExpressionMatch match = re.match(line);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace

DfuUtilParser::DfuUtilParser(const QString& output) {
    // Carriage returns stay: the prefix is anchored at the start and the serial pattern ends
    // at its closing quote, so a CR line end changes neither.
    const QStringList lines =
        output.split(QLatin1Char('\n'), Qt::KeepEmptyParts, Qt::CaseSensitive)
            .filter(prefix_expression());

    for (const QString& line : lines) {
        const QString serial = captured(serial_expression(), line);
        if (serial.isEmpty())
            qDebug() << line;
        const QString path = captured(path_expression(), line);
        if (serials.empty() || serials.back() != serial || paths.back() != path) {
            serials.push_back(serial);
            paths.push_back(path);
            const QString devnum = captured(devnum_expression(), line);
            devnums.push_back(devnum.isEmpty() ? -1 : devnum.toInt());
            line_counts.push_back(0);
        }
        ++line_counts.back();
    }

    nr_of_devices = static_cast<int>(serials.size());
    if (nr_of_devices == 0)
        status = no_dfu_device;
    else if (nr_of_devices == 1)
        status = lines.size() == lines_per_unit ? one_dfu_device : invalid_dfu_device;
    else
        status = multiple_dfu_devices;
}

QString DfuUtilParser::status_as_string() const {
    static const std::map<Status, QString> names = {
        {no_dfu_device, QStringLiteral("no_dfu_device")},
        {one_dfu_device, QStringLiteral("one_dfu_device")},
        {invalid_dfu_device, QStringLiteral("invalid_dfu_device")},
        {multiple_dfu_devices, QStringLiteral("multiple_dfu_devices")},
    };
    const auto it = names.find(status);
    return it == names.end() ? QString() : it->second;
}
