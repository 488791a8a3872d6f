#include "simulator/program/commands.h"

#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"

namespace simulator {

namespace {
constexpr int vendor_id = 0x0483;
constexpr int product_id = 0xdf11;
} // namespace

bool start(const Options& options, int* exit_code) {
    print_banner();
    if (options.mode == Mode::version) {
        *exit_code = 0;
        return false;
    }
    if (options.mode == Mode::none) {
        err(QStringLiteral("You need to specify one of -D or -U\n"));
        *exit_code = ex_usage;
        return false;
    }
    return true;
}

int run(const Options& options, Units& units) {
    if (options.match_alt >= alt_count) {
        if (options.mode == Mode::list)
            return 0;
        fail(ex_ioerr, QStringLiteral("No DFU capable USB device available"));
    }
    switch (options.mode) {
    case Mode::list: return list(options, units);
    case Mode::upload: return upload(options, units);
    case Mode::download: return download(options, units);
    default: return ex_usage;
    }
}

std::vector<Unit> matching_units(const Options& options, Units& units, bool scan) {
    std::vector<Unit> found;
    for (const Unit& unit : units.attached(scan)) {
        if ((options.vendor >= 0 && options.vendor != vendor_id) ||
            (options.product >= 0 && options.product != product_id) ||
            (!options.serial.isEmpty() && options.serial != unit.serial))
            continue;
        if (units.denied(unit)) {
            warn(QStringLiteral("Cannot open DFU device 0483:df11"));
            continue;
        }
        found.push_back(unit);
    }
    return found;
}

Unit open_unit(const Options& options, Units& units) {
    const std::vector<Unit> found = matching_units(options, units, false);
    if (found.empty())
        fail(ex_ioerr, QStringLiteral("No DFU capable USB device available"));
    if (found.size() > 1)
        fail(ex_ioerr,
             QStringLiteral("More than one DFU capable USB device found! Try `--list' and "
                            "specify the serial number or disconnect all but one device\n"));
    const Unit& unit = found.front();
    say(QStringLiteral("Opening DFU capable USB device..."));
    say(QStringLiteral("ID 0483:df11"));
    say(QStringLiteral("Run-time device DFU version 011a"));
    say(QStringLiteral("Claiming USB DFU Interface..."));
    if (units.claimed(unit))
        fail(ex_ioerr, QStringLiteral("Cannot claim interface"));
    say(QStringLiteral("Setting Alternate Setting #%1 ...").arg(options.alt()));
    say(QStringLiteral("Determining device status: state = dfuIDLE, status = 0"));
    say(QStringLiteral("dfuIDLE, continuing"));
    say(QStringLiteral("DFU mode device DFU version 011a"));
    say(QStringLiteral("Device returned transfer size %1").arg(transfer_size));
    return unit;
}

void say_interface_name(int alt) {
    say(QStringLiteral("DfuSe interface name: \"%1\"").arg(interface_name(alt)));
}

} // namespace simulator
