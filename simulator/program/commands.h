#pragma once
// What dfu-util 0.9 makes of its command line, and what it does for -V, -l, -U and -D with the
// units given: its messages, the files it writes and its exit codes. A command returns the exit
// code or ends the run (Exit).

#include "simulator/program/units.h"

#include <QStringList>

#include <optional>

namespace simulator {

enum class Mode { none, version, list, upload, download };

struct Options {
    Mode mode = Mode::none;
    int vendor = -1; // -d vendor[:product]; -1: any
    int product = -1;
    QString serial;     // -S; empty: any
    int match_alt = -1; // -a: a number, or 9 for a name no alternate setting has; -1: any
    QString dfuse;      // -s address[:modifier...]
    QString file;       // of -U or -D
    // -p, matched whole (an empty one matches none); none: any
    std::optional<QString> path;
    int alt() const { return match_alt >= 0 ? match_alt : 0; }
};

// Ends the run with a usage error for an option dfu-util 0.9 has not or a missing value.
Options parse_options(const QStringList& args);
// The "-s" address (-1: none) and length (0: none); ends the run (64) for one it cannot read.
std::pair<qint64, qint64> parse_dfuse(const QString& text);

// The banner; true unless -V or a missing command ends the run there (with `exit_code`).
bool start(const Options& options, int* exit_code);
int run(const Options& options, Units& units); // -l, -U or -D, after start()
int upload(const Options& options, Units& units);
int download(const Options& options, Units& units);
// The one matching unit that may be opened, opened and claimed with dfu-util's messages, and
// locked for the rest of the run.
Unit open_unit(const Options& options, Units& units);
void say_interface_name(int alt);

} // namespace simulator
