#pragma once
// Reads dfu-util's device listing ("-l") and decides whether exactly one usable unit is
// attached.

#include <QString>

#include <vector>

// A unit in the ST ROM bootloader shows one listing line per alternate setting of its DFU
// interface (four of them), each ending in serial="...". Only lines of vendor 0483, product
// df11, release 2200 count; everything else in the listing is ignored.
class DfuUtilParser {
public:
    enum Status : int {
        no_dfu_device = 0,
        one_dfu_device = 1,       // one serial on exactly four lines
        invalid_dfu_device = 2,   // one serial, but not on four lines
        multiple_dfu_devices = 3, // more than one serial
    };

    // Anchored: the line must begin with it (exact case, no leading blanks).
    static const QString prefix_RE;
    // Capture group 1 is the serial, hexadecimal digits of either case.
    static const QString extract_serial_RE;
    // Capture group 1 is the unit's USB port path (bus, then port numbers: "1-1.3").
    static const QString extract_path_RE;
    // Capture group 1 is the unit's USB address on its bus (devnum=6): a unit plugged in anew
    // gets another, so a serial and a port at one address are one unit.
    static const QString extract_devnum_RE;

    // The bootloader exposes four alternate settings: flash, option bytes, OTP, device feature.
    static constexpr int lines_per_unit = 4;

    // Parses the whole standard output of one listing; never fails.
    explicit DfuUtilParser(const QString& output);

    Status status = no_dfu_device;
    // In listing order; consecutive lines of one serial and one port are one entry. Two units
    // that report the same serial on two ports are two entries.
    std::vector<QString> serials;
    std::vector<QString> paths; // each entry's port, beside serials; empty when not listed
    std::vector<int> devnums; // each entry's address, from its first line; -1 when not listed
    std::vector<int> line_counts; // each entry's lines, beside serials: four for a usable unit
    int nr_of_devices = 0;

    // The enumerator's name; empty for a value outside the enumeration.
    QString status_as_string() const;
};
