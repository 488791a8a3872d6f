#pragma once
// The station's figures for the line's monitoring, in the Prometheus text format, as
// node_exporter's textfile collector reads them: the outcomes per port and outcome (counters,
// counted over the record's rows, so that they survive the program), the last upgrade's
// duration per port, and the units in progress. Written whole into a temporary file beside the
// target and renamed over it, so that the collector never reads half a file.

#include "history/store.h"

#include <QMap>
#include <QString>

namespace Cli {

struct StationFigures {
    History::OutcomeCounts outcomes;
    QMap<QString, double> last_duration_s; // port → seconds
    int units_in_progress = 0;
};

// The figures in the text format, each metric with its HELP and TYPE lines.
QString metrics_text(const StationFigures& figures);

// Replaces the file at `path`; false (and why) when it could not be written.
bool write_metrics_file(const QString& path, const StationFigures& figures, QString* why);

} // namespace Cli
