#include "dfu/scan.h"

#include "dfu/runner.h"

namespace DFU {

// scan_for_devices is in scan_listing.cpp: parsing needs nothing of the runner.

Scan make_scan() {
    return make_scan(RunTarget());
}

Scan make_scan(const RunTarget& target) {
    const CmdResult result = run_command(target, CmdID::list, {});
    Scan scan;
    if (result.exit_code == 0) // otherwise the runner has logged the failure
        scan = scan_for_devices(result.output);
    scan.failure = classify(result);
    return scan;
}

} // namespace DFU
