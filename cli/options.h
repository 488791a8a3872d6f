#pragma once
// What the command line asks for: one verb and its options.

#include "settings/texts.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace Cli {

enum class Verb { status, install, verify, history };

struct Options {
    Verb verb = Verb::status;
    int wait_seconds = 30; // for a unit; 0: for ever
    bool repeat = false;   // a station: one unit after another until stopped
    bool json = false;     // JSON Lines on standard output
    bool simulator = false;
    QString serial;   // history: only the rows of serials that contain it
    bool csv = false; // history: the record's CSV
    QString central_record; // a libpq connection string: the rows are shipped there too
    bool all = false;       // every unit attached, each by its port, at the same time
    QStringList ports;      // only the units on these ports (any verb but history)
    QString metrics_file;   // the station's figures, rewritten after every outcome

    // Several units, each by its port (--all or --port): one unit's upgrade each.
    bool by_port() const { return all || !ports.isEmpty(); }
};

// The options, or nothing after the reason has been written to standard error (exit status
// usage). --help and --version print and end the process with status 0, as Qt's parser does.
std::optional<Options> parse_options(const QStringList& arguments, const Settings::Texts& texts);

} // namespace Cli
