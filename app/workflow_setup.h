#pragma once
// What both programs build before the upgrade can run: where dfu-util runs from, the working
// files, and the worker that polls the unit. Qt Core only.

#include "app/startup_options.h"
#include "files/files.h"

class SM_A;

// Where every dfu-util command runs: the simulator's script (simulator::use), or the extracted
// dfu-util.
void point_commands(simulator::Setup setup);

// Also in simulator mode: the workflow's files always lie in the extraction directory.
// Without them nothing is run at all (the failure is logged here, once); the problem is
// returned for the worker.
Files::Problem prepare_working_files();

// The worker, paced by the options, told of a problem with the working files; not started.
SM_A* make_worker(const StartupOptions& options, const Files::Problem& problem);
