#pragma once
// The program's options: simulator on, simulator off, log window, and the central record.

#include <optional>

class QCoreApplication;
class QStringList;

// Sets simulator::use, use_log_window and central_record_option; an unknown option ends the process with Qt's
// message, as QCommandLineParser::process does.
void parse_arguments(QCoreApplication* app);
// The same for a given argument list (the program name first).
void parse_arguments(const QStringList& arguments);
// Whether the arguments ask for the simulator, as parse_arguments would decide, without
// setting anything or ending the process; nothing when they hold an unknown option.
std::optional<bool> asks_for_simulator(const QStringList& arguments);
