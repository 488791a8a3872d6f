// How the ports' turns end, and the fleet with them: each outcome as its station told it, the
// summary, and the exit status of the first port that failed.

#include "cli/exit_status.h"
#include "cli/fleet.h"

namespace Cli {

namespace {

bool succeeded(const OutcomeEvent& o) {
    return o.exit_status == done;
}

} // namespace

void Fleet::on_station_finished(const QString& path) {
    Port& port = ports[path];
    if (port.station->last_outcome())
        port.outcome = port.station->last_outcome();
    port.done = !options.repeat;
    port.station_ended = Upgrade::PortWatch::Clock::now();
    retired.push_back(std::move(port.station));
    // Deleted from the event loop: the station is still in the call that said it finished.
    QMetaObject::invokeMethod(this, [this] { retired.clear(); }, Qt::QueuedConnection);
    end_if_done();
}

// --wait has passed: a named port still empty, or a bench without any unit, has no unit.
void Fleet::on_deadline() {
    if (!chosen) {
        report.message(words("cli_no_unit").arg(options.wait_seconds));
        ports[QString()].outcome = unrecorded(QStringLiteral("no_unit"), no_single_unit);
        ports[QString()].done = true;
        chosen = true;
    }
    for (auto& [path, port] : ports) {
        if (port.station || port.done)
            continue;
        const Who who{path, {}, false};
        report.message(words("cli_no_unit_at_port").arg(path).arg(options.wait_seconds), who);
        port.outcome = unrecorded(QStringLiteral("no_unit"), no_single_unit);
        port.done = true;
        report.outcome(*port.outcome, who);
        emit outcome_told(path, *port.outcome);
    }
    end_if_done();
}

void Fleet::end_if_done() {
    for (const auto& [path, port] : ports)
        if (port.station || (!stopping && !port.done))
            return;
    if (stopping || chosen)
        end();
}

void Fleet::stop() {
    if (stopping)
        return;
    stopping = true;
    watch->stop();
    deadline.stop();
    for (auto& [path, port] : ports)
        if (port.station)
            port.station->stop();
    end_if_done();
}

void Fleet::end() {
    if (ended)
        return;
    ended = true;
    watch->stop();
    deadline.stop();
    SummaryEvent s = summary();
    s.exit_status = exit_status();
    report.summary(s);
    emit finished(s.exit_status);
}

SummaryEvent Fleet::summary() const {
    SummaryEvent s;
    for (const auto& [path, port] : ports)
        if (port.outcome)
            s.ports[port.outcome->outcome] << path;
    return s;
}

// 0 only when every unit ended well; otherwise the status of the first port, in port order,
// whose unit did not; 130 after a stop.
int Fleet::exit_status() const {
    if (stopping)
        return stopped;
    for (const auto& [path, port] : ports)
        if (port.outcome && !succeeded(*port.outcome))
            return port.outcome->exit_status;
    return done;
}

int Fleet::units_in_progress() const {
    int n = 0;
    for (const auto& [path, port] : ports)
        n += port.station && port.station->unit_working() ? 1 : 0;
    return n;
}

} // namespace Cli
