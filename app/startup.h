#pragma once
// Start-up and shut-down of the program, around Qt's event loop.

// Builds everything in a fixed order before the event loop runs; no step stops the program.
void GUI_init();

// Stops the workflow, waits two seconds, deletes the workflow objects; returns its argument.
int GUI_cleanup(int exec_result);
