#pragma once
// One virtual unit: a serial on a port, the bootloader behind it, and what a test sets and reads
// of it. Two threads use it: the testbed's worker answers dfu-util's requests (control(),
// select_alt(), usb_reset()) while the test's own thread sets memories and faults and reads them
// back. Every member function takes the unit's mutex, and what a test reads is a copy made
// under it: that is the one hand-over between the two.

#include "bootloader.h"

#include <QString>

#include <mutex>

namespace virtual_unit {

class Unit {
public:
    Unit(const QString& port, const QString& serial) : port_(port), serial_(serial) {}
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    const QString& port() const { return port_; }     // as dfu-util's -p takes it: "1-2", "1-1.3"
    const QString& serial() const { return serial_; } // as its listing prints it

    // The test's side.
    void set_memory(int alt, const QByteArray& bytes);
    QByteArray memory(int alt) const; // from the memory's base, all of it
    void set_faults(const Faults& faults);
    void set_timing(const Timing& timing);
    Tally tally() const;
    State state() const;
    bool left() const; // it left the bootloader and runs its firmware
    // Plugged in again: the bootloader starts afresh (dfuIDLE); memories, faults and tally stay.
    void power_up();

    // dfu-util's side, on the testbed's worker thread. `out` is an OUT transfer's data.
    Reply control(const Setup& setup, const QByteArray& out);
    void select_alt(int alt);
    void usb_reset();
    bool claimed_elsewhere() const;
    bool gone() const;

private:
    Reply standard_request(const Setup& setup) const;

    const QString port_;
    const QString serial_;
    mutable std::mutex mutex_; // guards bootloader_
    Bootloader bootloader_;
};

} // namespace virtual_unit
