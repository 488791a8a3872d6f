#pragma once
// Start-up and shut-down of the program, around Qt's event loop.

#include "app/startup_options.h"

// Builds everything in a fixed order before the event loop runs; no step stops the program.
// The options are taken before anything is built, so nothing built here is changed afterwards.
void GUI_init(const StartupOptions& options);
// The program's start-up: GUI_init with the default options.
void GUI_init();

// Stops the workflow, waits two seconds, deletes the workflow objects; returns its argument.
int GUI_cleanup(int exec_result);
