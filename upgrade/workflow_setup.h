#pragma once
// What both programs prepare before a unit's upgrade can run: where dfu-util runs from, and
// the working files. Qt Core only.

#include "upgrade/startup_options.h"
#include "files/files.h"

// Where every dfu-util command runs: the simulator's script (simulator::use), or the extracted
// dfu-util.
void point_commands(simulator::Setup setup);

// Also in simulator mode: the workflow's files always lie in the extraction directory.
// Without them nothing is run at all (the failure is logged here, once); the problem is
// returned for the units' upgrades.
Files::Problem prepare_working_files();
