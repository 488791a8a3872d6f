#include "dfu/scan.h"

#include "dfu/dfu_util_parser.h"
#include "dfu/runner.h"

namespace DFU {

Scan scan_for_devices(const QString& output) {
    const DfuUtilParser parser(output);
    Scan scan;
    scan.devices.reserve(parser.serials.size());
    for (const QString& serial : parser.serials)
        scan.devices.push_back(DeviceItem{serial});
    if (parser.status == DfuUtilParser::one_dfu_device)
        scan.status = 0;
    return scan;
}

Scan make_scan() {
    const CmdResult result = run_command(CmdID::list, {});
    Scan scan;
    if (result.exit_code == 0) // otherwise the runner has logged the failure
        scan = scan_for_devices(result.output);
    scan.failure = classify(result);
    return scan;
}

} // namespace DFU
