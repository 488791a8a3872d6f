#pragma once
// dfu-util's manner of speaking: results on standard output, "dfu-util: ..." errors on standard
// error, its exit codes and its progress bar. Everything is flushed at once, so that a reader of
// the pipes sees each line and each progress update as it happens.

#include <QByteArray>
#include <QString>

namespace simulator {

constexpr int ex_usage = 64; // sysexits.h, as dfu-util 0.9 uses them
constexpr int ex_software = 70;
constexpr int ex_ioerr = 74;

// Ends the run with an exit code; thrown so that every destructor runs on the way out.
struct Exit {
    int code;
};

// The name the program was started by (set once, by main), for its own messages, not dfu-util's.
extern QString program_name;

void out(const QByteArray& bytes);
void say(const QString& line); // and a line feed
void err(const QString& text);
void warn(const QString& message); // "dfu-util: " and the message on standard error
[[noreturn]] void fail(int code, const QString& message);
// A problem of the simulator itself (command line, state directory), not one of dfu-util's.
[[noreturn]] void usage_error(const QString& message);

// dfu-util 0.9's bar: "\r<label>\t[" 25 marks "] " percent "% " bytes " bytes", redrawn when a
// mark is added and when the clock's second has changed since the last drawing, "\n<label>
// done.\n" once full. The transfer's time is spread over its bytes.
class Progress {
public:
    Progress(const char* label, qint64 duration_ms);
    void update(qint64 current, qint64 total);

private:
    const char* label_;
    qint64 duration_ms_;
    qint64 started_ms_;  // since the epoch
    int marks_ = -1;     // drawn last
    qint64 second_ = -1; // the clock's second of the last drawing
};

} // namespace simulator
