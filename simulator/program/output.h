#pragma once
// dfu-util's manner of speaking: results on standard output, "dfu-util: ..." errors on standard
// error, and its exit codes. Everything written is flushed at once, so that a reader of the
// pipes sees each line (and each progress update) as it happens.

#include <QByteArray>
#include <QString>

namespace simulator {

// The exit codes of sysexits.h that dfu-util 0.9 uses.
constexpr int ex_usage = 64;
constexpr int ex_software = 70;
constexpr int ex_ioerr = 74;

// Ends the run: main returns the code. Thrown so that every destructor runs on the way out.
struct Exit {
    int code;
};

// The name the program was started by, for its own (not dfu-util's) messages.
void set_program_name(const QString& name);
const QString& program_name();

void out(const QByteArray& bytes);
void out(const QString& text);
void say(const QString& line); // the line and a line feed
void err(const QString& text);
// "dfu-util: " and the message, on standard error.
void warn(const QString& message);
[[noreturn]] void fail(int code, const QString& message);
// A problem of the simulator itself (command line, state directory), not one of dfu-util's.
[[noreturn]] void usage_error(const QString& message);

// What dfu-util 0.9 prints first, whatever it is asked to do.
void print_banner();

// "0x" and eight hexadecimal digits, as dfu-util prints addresses.
QString hex_address(qint64 address);

} // namespace simulator
