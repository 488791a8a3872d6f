#pragma once
// Runs one entry of the dfu-util command table as a child process and waits for it.

#include "dfu/command.h"
#include "dfu/run_target.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace DFU {

struct CmdResult {
    int exit_code = -1;           // the child's exit code; -1 after a crash or a kill
    QString output;               // standard output as UTF-8, cut at the first NUL byte
    QString error_output;         // dfu-util's standard error (UTF-8), kept beside the output
    bool failed_to_start = false; // the program never ran (QProcess::FailedToStart)
    QString start_error;          // QProcess::errorString() when it failed to start
};

// Called on the running thread for every progress update that dfu-util prints
// ("\rDownload\t[====  ]  20%   81920 bytes", also "Upload"); percent 0..100.
using ProgressCallback = std::function<void(int percent)>;

// Blocks the calling thread until the child has exited (or was given up on); never throws.
// The child inherits the program's environment, plus a test hook's preload (child_environment.h).
// Standard output is read while the child runs, so that its progress reaches on_progress as
// it is printed; the output returned is the whole text all the same.
CmdResult run_command(CmdID id, const QStringList& extra,
                      const ProgressCallback& on_progress = {});
// The same for one unit's target: its selection ends the command line, and its own switch
// gives its runs up as the process-wide one does.
CmdResult run_command(const RunTarget& target, CmdID id, const QStringList& extra,
                      const ProgressCallback& on_progress = {});

namespace runner {

// The first, bounded wait (30 s). After it the runner logs the time-out and keeps waiting,
// because a download may well take longer. Written before any run (tests shorten it).
void set_first_wait_ms(int ms);
int first_wait_ms();

// What a stop must never interrupt:
//  - a download (-D): it erases and writes the unit's flash page by page, so a cut run leaves
//    a partial image that the unit cannot start;
//  - the read-back (-U of the whole image): the byte-for-byte proof of what was written, the
//    only ground for "Firmware is upgraded".
// Every other run (the version check, the listing, the 512-byte OTP read, the 2048-byte
// information read, a simulator configuration) only reads a little. Killing one of those
// leaves the unit as it was, and the next dfu-util run brings the bootloader back to idle.
bool is_transfer(CmdID id);

// Giving up every run of the process, from any thread: the runner kills and reaps the child it
// is waiting for, and every child started while the request stands. A unit's upgrade gives up
// only its own runs, through its target's switch (run_target.h).
// - give_up_short_runs(): at a stop. Only the runs that are not transfers are given up (see
//   is_transfer); a download or read-back runs to its end.
// - give_up(): the last resort, only at the end of the process after a long bound, so that a
//   child that never exits cannot keep the worker thread (and with it the process) alive.
//   Transfers too.
void give_up_short_runs();
void give_up();
void reset_give_up();
bool giving_up(); // the last resort stands

} // namespace runner
} // namespace DFU
