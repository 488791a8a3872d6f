#include "simulator/program/commands.h"

#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"

namespace simulator {

// One line per alternate setting, the highest first, as the bootloader lists them.
int list(const Options& options, Units& units) {
    if (units.listing_fails())
        fail(ex_ioerr, QStringLiteral("error get_status"));
    if (const std::optional<QByteArray> verbatim = units.verbatim_listing()) {
        out(*verbatim);
        return 0;
    }
    for (const Unit& unit : matching_units(options, units, true)) {
        for (int alt = alt_count - 1; alt >= 0; --alt) {
            if (options.match_alt >= 0 && options.match_alt != alt)
                continue;
            say(QStringLiteral("Found DFU: [0483:df11] ver=2200, devnum=%1, cfg=1, intf=0, "
                               "path=\"%2\", alt=%3, name=\"%4\", serial=\"%5\"")
                    .arg(QString::number(unit.devnum), unit.path, QString::number(alt),
                         alt_name(alt), unit.serial));
        }
    }
    return 0;
}

} // namespace simulator
