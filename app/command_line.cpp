#include "app/command_line.h"

#include "simulator/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDebug>

CommandLine parse_arguments(QCoreApplication* app) {
    return parse_arguments(app->arguments());
}

namespace {

// The three switches, in this order: simulator on, simulator off, log window; then where the
// central record is.
QList<QCommandLineOption> options() {
    const QCommandLineOption use_simulator(QStringList{"s", "use-simulator"},
                                           "Use simulated device interaction.", QString(),
                                           QString());
    const QCommandLineOption no_use_simulator(QStringList{"S", "no-use-simulator"},
                                              "Disable use of simulated device interaction.",
                                              QString(), QString());
    const QCommandLineOption log_window(QStringList{"l", "use-log-window"},
                                        "Enable use of log window (open it with Ctrl-l)", QString(),
                                        QString());
    const QCommandLineOption central_record(
        QStringList{"central-record"},
        "Ship the upgrade record to the central record at CONNECTION, a libpq connection string "
        "such as 'service=orvanta' (passwords belong in ~/.pgpass, never here).",
        "CONNECTION");
    return {use_simulator, no_use_simulator, log_window, central_record};
}

} // namespace

std::optional<bool> asks_for_simulator(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.addOptions(options());
    if (!parser.parse(arguments))
        return std::nullopt;
    return parser.isSet("use-simulator") && !parser.isSet("no-use-simulator");
}

CommandLine parse_arguments(const QStringList& arguments) {
    QCommandLineParser parser; // short switches may be combined behind one dash
    parser.addOptions(options());
    parser.process(arguments);

    qDebug().nospace() << "Initial value of 'simulator::use'=" << simulator::use
                       << ", isSet('-s')=" << parser.isSet("use-simulator")
                       << ", isSet('-S')=" << parser.isSet("no-use-simulator");

    if (parser.isSet("use-simulator"))
        simulator::use = true;
    if (parser.isSet("no-use-simulator")) // applied last, so it wins
        simulator::use = false;
    CommandLine line;
    line.use_log_window = parser.isSet("use-log-window");
    if (parser.isSet("central-record"))
        line.central_record = parser.value("central-record");
    return line;
}
