#include "cli/station_metrics.h"

#include "upgrade/program_record.h"

#include <QDebug>

namespace Cli {

StationMetrics::StationMetrics(QString path_, Upgrade::ProgramRecord* record_,
                               std::function<int()> in_progress_)
    : path(std::move(path_)), record(record_), in_progress(std::move(in_progress_)) {
    // The record's answer comes in this thread (ProgramRecord hands it over).
    connect(record, &Upgrade::ProgramRecord::outcome_counts, this, &StationMetrics::write);
}

void StationMetrics::start() {
    record->ask_outcome_counts();
}

void StationMetrics::take_outcome(const QString& port, const OutcomeEvent& outcome) {
    if (outcome.duration_s)
        last_duration_s[port] = *outcome.duration_s;
    record->ask_outcome_counts();
}

void StationMetrics::write(const History::OutcomeCounts& counts) {
    QString why;
    if (write_metrics_file(path, {counts, last_duration_s, in_progress()}, &why)) {
        last_failure.clear();
        return;
    }
    if (why != last_failure)
        qWarning().noquote() << "Station figures not written to" << path << ":" << why;
    last_failure = why;
}

} // namespace Cli
