#pragma once
// The record of upgrades joined to the workflow and the window: each outcome of the workflow
// becomes a row, written in the GUI thread (never by the worker); the hint line tells what the
// record knows; Ctrl+H shows the history window beside the main window.

#include <QString>

class HistoryWindow;

// Opens the record at `path`, connects the workflow's outcomes to it and to the hint line, and
// makes the history window with its shortcuts. Called once the window, SM_A and SM_B exist
// and are wired (after add_connections), before the machine starts.
void add_history_connections(const QString& path);

// At shut-down, before the workflow objects are deleted: records what a stop left unfinished
// (once the worker has ended its transfer) and closes the record.
void finish_history();

// The history window; null outside add_history_connections and finish_history.
HistoryWindow* history_window();
