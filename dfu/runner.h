#pragma once
// Runs one entry of the dfu-util command table as a child process and waits for it.

#include "dfu/command.h"

#include <QString>
#include <QStringList>

namespace DFU {

struct CmdResult {
    int exit_code = -1;           // the child's exit code; -1 after a crash or a kill
    QString output;               // standard output as UTF-8, cut at the first NUL byte
    QString error_output;         // dfu-util's standard error (UTF-8), kept beside the output
    bool failed_to_start = false; // QProcess::FailedToStart: the program never ran
    QString start_error;          // QProcess::errorString() when it failed to start
};

// Blocks the calling thread until the child has exited (or was given up on); never throws.
CmdResult run_command(CmdID id, const QStringList& extra);

namespace runner {

// The first, bounded wait (30 s). After it the runner logs the time-out and keeps waiting,
// because a download may well take longer. Written before any run (tests shorten it).
void set_first_wait_ms(int ms);
int first_wait_ms();

// Giving up: from any thread, tells the runner to kill and reap the child it is waiting for,
// and every child started while the request stands. Used when the program stops, so that a
// child that never exits cannot keep the worker thread (and with it the process) alive.
void give_up();
void reset_give_up();
bool giving_up();

} // namespace runner
} // namespace DFU
