// The parsing half of a scan. Kept apart from make_scan, which runs dfu-util, so that the
// listing parser needs nothing but Qt Core.

#include "dfu/scan.h"

#include "dfu/dfu_util_parser.h"

namespace DFU {

Scan scan_for_devices(const QString& output) {
    const DfuUtilParser parser(output);
    Scan scan;
    scan.devices.reserve(parser.serials.size());
    for (size_t i = 0; i < parser.serials.size(); ++i)
        scan.devices.push_back(
            DeviceItem{parser.serials[i], parser.paths[i],
                       parser.line_counts[i] == DfuUtilParser::lines_per_unit, parser.devnums[i]});
    if (parser.status == DfuUtilParser::one_dfu_device)
        scan.status = 0;
    return scan;
}

} // namespace DFU
