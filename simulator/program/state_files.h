#pragma once
// The names of the files in the simulator's state directory (units.h says what each holds and
// who changes it), written once for the simulator program and the tests' fake
// (tests/support/fake_dfu_util.h), which sets up units in the same directory.

namespace simulator {

namespace state_file {
constexpr char order[] = "order";   // the ids of the attached units, in listing order
constexpr char units[] = "units";   // a folder per unit, named by its id
constexpr char config[] = "config"; // the prepared configuration in use
constexpr char lock[] = "lock";     // held (flock) while a run reads or changes the shared files
} // namespace state_file

// The files of a unit's folder; each is optional.
namespace unit_file {
constexpr char serial[] = "serial"; // its USB serial (hexadecimal); two units may share one
constexpr char devnum[] = "devnum"; // its USB address, as listed
constexpr char path[] = "path";     // its port, as listed and as -p takes it
// This plug-in of the unit: a unit replaced by another (or by a configuration) has another, so
// that a run that began with the old one never writes into the new one.
constexpr char plug[] = "plug";
constexpr char lock[] = "lock"; // held (flock) by the simulator run reading or writing its memory
// The memories, each from its start (Device::memory_map).
constexpr char flash[] = "flash.bin";               // flash_alt, from flash_base
constexpr char option_bytes[] = "option_bytes.bin"; // option_bytes_alt, from option_bytes_address
constexpr char otp[] = "otp.bin";                   // otp_alt, from otp_address
// "desired" or "desired_changed" (a few bytes after its information block): the flash holds
// the desired firmware, not learnt yet; "older": it holds a firmware of another revision than
// the desired one, whatever revision that has.
constexpr char flash_pending[] = "flash.pending";
constexpr char refuse_erase[] = "refuse_erase"; // every download's first page erase is refused
constexpr char lost_during_download[] = "lost_during_download"; // lost in the next download
// Lost in the next download, as above, and away for good (until a configuration is set up).
constexpr char unplugged_during_download[] = "unplugged_during_download";
constexpr char absent_scans[] = "absent_scans"; // gone for this many more listings
constexpr char no_access[] = "no_access";       // this user may not open it
constexpr char busy[] = "busy";                 // another program has claimed it
// Besides these, a test's failure switch for this unit alone, named as the shared one.
} // namespace unit_file

} // namespace simulator
