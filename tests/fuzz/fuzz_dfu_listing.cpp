// libFuzzer target: DfuUtilParser and scan_for_devices on arbitrary dfu-util listings. Beyond
// the sanitizers' checks it traps when a verdict disagrees with the listing's lines, counted
// here without regular expressions, or when the scan disagrees with the parser.

#include "dfu/dfu_util_parser.h"
#include "dfu/scan.h"

#include "fuzz_support.h"

#include <QRegularExpression>
#include <QVector>

using fuzz::check;

namespace {

bool is_hex(const QString& s) {
    for (const QChar qc : s) {
        const char16_t c = qc.unicode();
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quiet_messages();
    // The compiled expressions and the status names are built on first use: built here, the
    // first input covers nothing that later ones do not.
    check(DFU::scan_for_devices(QStringLiteral("Found DFU: [0483:df11] ver=2200, serial=\"A\"\n"))
              .devices.size() == 1);
    check(!DfuUtilParser(QString()).status_as_string().isEmpty());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzz::max_input_size)
        return 0;
    const QString output = fuzz::utf8(data, size);
    const DfuUtilParser parser(output);
    const DFU::Scan scan = DFU::scan_for_devices(output);

    int unit_lines = 0; // lines of vendor 0483, product df11, release 2200
    for (const QStringRef& line : output.splitRef(QLatin1Char('\n')))
        unit_lines += line.startsWith(QLatin1String("Found DFU: [0483:df11] ver=2200")) ? 1 : 0;

    const auto& serials = parser.serials;
    const int count = static_cast<int>(serials.size());
    check(parser.nr_of_devices == count);
    check(count <= unit_lines && (count == 0) == (unit_lines == 0));
    switch (parser.status) {
    case DfuUtilParser::no_dfu_device:
        check(count == 0);
        break;
    case DfuUtilParser::one_dfu_device:
        check(count == 1 && unit_lines == 4);
        break;
    case DfuUtilParser::invalid_dfu_device:
        check(count == 1 && unit_lines != 4);
        break;
    case DfuUtilParser::multiple_dfu_devices:
        check(count >= 2);
        break;
    default:
        check(false);
    }
    check(!parser.status_as_string().isEmpty());
    // An entry is a run of lines of one serial and one port: two entries in a row differ in one.
    check(parser.paths.size() == serials.size() && parser.line_counts.size() == serials.size() &&
          parser.devnums.size() == serials.size());
    int entry_lines = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t at = std::size_t(i);
        const QString& serial = serials[at];
        const QString& path = parser.paths[at];
        check(i == 0 || serial != serials[at - 1] || path != parser.paths[at - 1]);
        check(is_hex(serial));
        check(serial.isEmpty() ||
              output.contains(QStringLiteral("serial=\"") + serial + QLatin1Char('"')));
        check(path.isEmpty() ||
              output.contains(QStringLiteral(", path=\"") + path + QStringLiteral("\",")));
        const int devnum = parser.devnums[at];
        check(devnum == -1 || (devnum >= 0 && devnum <= 999 &&
                               output.contains(QRegularExpression(QStringLiteral(", devnum=0*%1,").arg(devnum)))));
        check(parser.line_counts[at] >= 1);
        entry_lines += parser.line_counts[at];
    }
    check(entry_lines == unit_lines);

    check(scan.status == (parser.status == DfuUtilParser::one_dfu_device ? 0 : 1));
    check(scan.devices.size() == serials.size());
    for (std::size_t i = 0; i < scan.devices.size(); ++i) {
        check(scan.devices[i].serial == serials[i] && scan.devices[i].path == parser.paths[i] &&
              scan.devices[i].devnum == parser.devnums[i]);
        check(scan.devices[i].usable == (parser.line_counts[i] == DfuUtilParser::lines_per_unit));
    }
    return 0;
}
