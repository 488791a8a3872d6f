#pragma once
// Which units are attached: one run of the listing, parsed.

#include "dfu/failure_cause.h"
#include "dfu/run_target.h"

#include <QString>

#include <vector>

namespace DFU {

// One listed unit.
struct DeviceItem {
    QString serial; // as printed (case kept); empty when its lines carried no hexadecimal serial
    QString path;   // its USB port, as printed (path="1-1.3"); empty when not listed
    bool usable = false; // listed on one line per alternate setting of the bootloader
    int devnum = -1;     // its USB address, as printed; another after it is plugged in anew

    // The same unit, still attached since it was listed: nothing tells two others apart.
    bool same_unit(const DeviceItem& o) const {
        return serial == o.serial && path == o.path && devnum == o.devnum;
    }
};

// The result of one scan.
struct Scan {
    int status = 1;                  // 0 only for exactly one usable unit
    std::vector<DeviceItem> devices; // every listed unit, whatever the status
    // Why the listing failed; no_access also when it exited 0 but could not open a unit, which
    // it then leaves out.
    Failure failure;
};

// Parses one listing's output.
Scan scan_for_devices(const QString& output);

// Runs the listing; a failing dfu-util gives status 1, no devices and the failure.
Scan make_scan();
// The same for one target: the listing names its port.
Scan make_scan(const RunTarget& target);

} // namespace DFU
