#pragma once
// The simulator's prepared configurations (the README's table): which units are attached, what
// their memories hold and what goes wrong with them.

#include <QString>
#include <QStringList>

namespace simulator {

// The files of a unit's folder in the state directory; each is optional.
namespace unit_file {
constexpr char serial[] = "serial";                 // its USB serial (hexadecimal)
constexpr char devnum[] = "devnum";                 // its USB address, as listed
constexpr char path[] = "path";                     // its port, as listed
// The memories, each from its start (Device::memory_map).
constexpr char flash[] = "flash.bin";               // flash_alt, from flash_base
constexpr char option_bytes[] = "option_bytes.bin"; // option_bytes_alt, from option_bytes_address
constexpr char otp[] = "otp.bin";                   // otp_alt, from otp_address
// "desired" or "desired_changed" (a few bytes after its information block): the flash holds
// the desired firmware, not learnt yet; "older": it holds a firmware of another revision than
// the desired one, whatever revision that has.
constexpr char flash_pending[] = "flash.pending";
constexpr char fail_download[] = "fail_download"; // every download's first page erase is refused
constexpr char lost_during_download[] = "lost_during_download"; // lost in the next download
constexpr char absent_scans[] = "absent_scans";                 // gone for this many more listings
constexpr char no_access[] = "no_access";                       // this user may not open it
constexpr char busy[] = "busy";                                 // another program has claimed it
} // namespace unit_file

QStringList configuration_names();

// The flash of the "older_revision" unit: a Lumo-7's firmware, of a revision other than
// `desired_revision` (the desired firmware's; empty while that is not known).
QByteArray older_revision_firmware(const QString& desired_revision);

// Writes a configuration's units into `dir`, a folder each, named by its serial; returns their
// names in listing order (none for an unknown name). A failed write ends the run.
QStringList write_configuration(const QString& name, const QString& dir);

} // namespace simulator
