#pragma once
// Simulator mode: every dfu-util command line redirected to the script "dfu-util_simulator.sh",
// which plays dfu-util and a connected unit, so that the whole workflow runs without hardware.

#include <QString>

namespace simulator {

// Set by the command line; false unless simulator mode was asked for.
extern bool use;

// Only bit 0 is looked at: set, every simulated command line carries "--fast-progress".
enum class Setup : int { normal = 0, fast_progress = 1 };

// Rewrites all seven entries of DFU::commands to run the script. Call once, before any command
// runs and before the worker thread exists: a second call would prefix the arguments again.
void setup_for_simulated_dfu_util(Setup setup);

// The script directory of the source tree (fixed at build time), "/" and name.
QString dfu_util_path(QString name);

// Asks the script to switch to one of its prepared configurations; returns its exit code
// (0 on success) and logs a failure.
int sim_setup_prepared_config(QString config);

} // namespace simulator
