#pragma once
// The command-line program's exit statuses: the table of its manual page.

namespace Cli {

enum ExitStatus : int {
    done = 0,           // install, verify: the unit holds the carried firmware, its read-back
                        // matched; status: a unit of this product was identified
    failed = 1,         // a download or read-back failed, the read-back differs, or the unit
                        // was lost during an operation
    usage = 2,          // the command line is wrong
    locked = 3,         // another copy (window or station) holds this mode's lock
    refused = 4,        // another product, no valid product record, blank OTP
    no_single_unit = 5, // no unit within --wait, or more than one unit connected
    no_access = 6,      // dfu-util may not open the unit (no USB rule)
    stopped = 130,      // SIGINT or SIGTERM, after any running transfer ended
};

} // namespace Cli
