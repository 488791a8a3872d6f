#pragma once
// --metrics-file: the station's figures written anew after every outcome (metrics_file.h). The
// counts are the record's, asked for after each outcome and written once they are answered,
// so that they are never a total kept in this program's memory alone.

#include "cli/metrics_file.h"
#include "cli/report.h"

#include <QObject>

#include <functional>

namespace Upgrade {
class ProgramRecord;
}

namespace Cli {

class StationMetrics : public QObject {
    Q_OBJECT
public:
    // `in_progress`: how many units are being upgraded or verified now.
    StationMetrics(QString path, Upgrade::ProgramRecord* record, std::function<int()> in_progress);

    // The first figures, before any outcome.
    void start();
    void take_outcome(const QString& port, const Cli::OutcomeEvent& outcome);

private:
    void write(const History::OutcomeCounts& counts);

    const QString path;
    Upgrade::ProgramRecord* const record;
    const std::function<int()> in_progress;
    QMap<QString, double> last_duration_s;
    QString last_failure; // said once, until a write succeeds again
};

} // namespace Cli
