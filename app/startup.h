#pragma once
// Start-up and shut-down of the program, around Qt's event loop.

#include "app/window_program.h"
#include "upgrade/startup_options.h"

#include <memory>

// Builds everything in a fixed order before the event loop runs; no step stops the program.
// The options are taken before anything is built, so nothing built here is changed afterwards.
std::unique_ptr<WindowProgram> GUI_init(const StartupOptions& options);
// The program's start-up: GUI_init with the default options.
std::unique_ptr<WindowProgram> GUI_init();

// Stops the workflow, waits two seconds, ends the unit's upgrade and the record; returns its
// argument.
int GUI_cleanup(WindowProgram& program, int exec_result);
