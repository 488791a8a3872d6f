#pragma once
// history: the record's rows, newest first, read from the SQLite record opened read-only, so
// that it runs beside a window or a station that writes it.

#include "cli/options.h"
#include "cli/report.h"

namespace Cli {

// Writes the rows as the options ask (a person's lines, --csv or --json); returns the exit
// status: 0, or 1 when the record exists but cannot be read.
int list_history(const Options& options, const Settings::Texts& texts, Report& report);

} // namespace Cli
