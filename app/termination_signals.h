#pragma once
// SIGINT and SIGTERM (Ctrl+C in a terminal, a session ending) end the event loop instead of
// the process, so that shut-down runs: the worker is stopped, and the extraction directory is
// removed at exit.

// Call once, after the application object exists.
void quit_event_loop_on_termination_signals();
