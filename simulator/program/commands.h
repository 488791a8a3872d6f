#pragma once
// What dfu-util 0.9 does for -l, -U and -D with the units given: its messages, the files it
// writes and its exit codes. Each command returns the exit code or ends the run (Exit).

#include "simulator/program/command_line.h"
#include "simulator/program/units.h"

#include <vector>

namespace simulator {

// The banner, then -V or a missing command ends the run: returns whether it goes on.
bool start(const Options& options, int* exit_code);
// -l, -U or -D, after start().
int run(const Options& options, Units& units);

int list(const Options& options, Units& units);
int upload(const Options& options, Units& units);
int download(const Options& options, Units& units);

// The attached units that match -d and -S and that this user may open; a scan (`scan` true)
// is a listing.
std::vector<Unit> matching_units(const Options& options, Units& units, bool scan);
// The one matching unit, opened and claimed with dfu-util's messages.
Unit open_unit(const Options& options, Units& units);
void say_interface_name(int alt);

} // namespace simulator
