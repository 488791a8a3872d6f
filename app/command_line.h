#pragma once
// The program's options: simulator on, simulator off, log window, and the central record.

#include <QString>

#include <optional>

class QCoreApplication;
class QStringList;

// What the options ask for beside the simulator.
struct CommandLine {
    bool use_log_window = false;  // every message goes to the log window (-l)
    QString central_record;       // --central-record: a libpq connection string, or empty
};

// Sets simulator::use and returns the rest; an unknown option ends the process with Qt's
// message, as QCommandLineParser::process does.
CommandLine parse_arguments(QCoreApplication* app);
// The same for a given argument list (the program name first).
CommandLine parse_arguments(const QStringList& arguments);
// Whether the arguments ask for the simulator, as parse_arguments would decide, without
// setting anything or ending the process; nothing when they hold an unknown option.
std::optional<bool> asks_for_simulator(const QStringList& arguments);
