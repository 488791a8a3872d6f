#pragma once
// dfu-util 0.9's command line, as far as the simulated units need it.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace simulator {

enum class Mode { none, version, list, upload, download };

struct Options {
    Mode mode = Mode::none;
    int vendor = -1; // -d vendor[:product]; -1: any
    int product = -1;
    QString serial;        // -S; empty: any
    int match_alt = -1;    // -a as a number (9 for a name no alternate setting has); -1: any
    QString dfuse_options; // -s
    QString file;          // of -U or -D

    // The alternate setting used for a transfer.
    int alt() const { return match_alt >= 0 ? match_alt : 0; }
};

// Options and their values as dfu-util takes them ("-a 0", "-a0", "--alt 0"). Ends the run
// with a usage error for an option dfu-util 0.9 does not have or a missing value.
Options parse_options(const QStringList& args);

// A number as C's strtoul with base 0 reads a whole text: 0x... hexadecimal, 0... octal, else
// decimal. False for anything else.
bool parse_number(const QString& text, qint64* value);

// "-s address[:modifier...]": the address (-1 when none is given) and the length (0: none).
struct DfuseOptions {
    qint64 address = -1;
    qint64 length = 0;
};
// Ends the run as dfu-util does (exit code 64) for an address or modifier it cannot read.
DfuseOptions parse_dfuse_options(const QString& text);

} // namespace simulator
