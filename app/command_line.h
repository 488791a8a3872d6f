#pragma once
// The program's three switches: simulator on, simulator off, log window.

class QCoreApplication;
class QStringList;

// Sets simulator::use and use_log_window; an unknown option ends the process with Qt's
// message, as QCommandLineParser::process does.
void parse_arguments(QCoreApplication* app);
// The same for a given argument list (the program name first).
void parse_arguments(const QStringList& arguments);
