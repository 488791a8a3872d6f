#pragma once
// SIGINT and SIGTERM (Ctrl+C in a terminal, a session ending) are handed to the event loop
// instead of ending the process, so that shut-down runs: the worker is stopped, and the
// extraction directory is removed at exit.

#include <functional>

// Call once, after the application object exists: each signal ends the event loop.
void quit_event_loop_on_termination_signals();
// The same with another action, run in the event loop for every signal that arrives (a second
// Ctrl+C too), with the signal's number.
void on_termination_signals(std::function<void(int)> action);
