#pragma once
// Runs one entry of the dfu-util command table as a child process and waits for it.

#include "dfu/command.h"

#include <QString>
#include <QStringList>

namespace DFU {

struct CmdResult {
    int exit_code = -1; // the child's exit code; -1 after a crash or a kill
    QString output;     // standard output as UTF-8, cut at the first NUL byte
};

// Blocks the calling thread until the child has exited (or was given up on); never throws.
CmdResult run_command(CmdID id, const QStringList& extra);

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

// Giving up, from any thread: the runner kills and reaps the child it is waiting for, and
// every child started while the request stands.
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
