#pragma once
// Several units at once, each by its USB port (--all, --port): a station with its own unit's
// upgrade for each port where a unit is attached, started as soon as the port watch lists it,
// all sharing the program's record. Without --repeat the units of the first listing that shows
// any (or the ports named) are served, and the program ends when all have ended; with --repeat
// each port is a station of its own, whatever the others are doing, until stopped.

#include "cli/options.h"
#include "cli/report.h"
#include "cli/station.h"
#include "upgrade/port_watch.h"
#include "upgrade/unit_upgrade.h"

#include <QObject>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace Cli {

class Fleet : public QObject {
    Q_OBJECT
public:
    // `base`: what every unit's upgrade shares (its pace, the working files' problem).
    Fleet(const Options& options, const Settings::Texts& texts, Report& report,
          Upgrade::UnitUpgrade::Setup base, Upgrade::ProgramRecord* record);
    ~Fleet() override;

    void start();
    // SIGINT or SIGTERM: every station ends after its transfer under way; then the fleet.
    void stop();
    // The stations whose unit is being upgraded or verified now.
    int units_in_progress() const;

signals:
    // A port's outcome, as its station told it.
    void outcome_told(const QString& port, const Cli::OutcomeEvent& outcome);
    void finished(int exit_status);

private:
    struct Port {
        std::unique_ptr<Station> station;
        std::optional<OutcomeEvent> outcome; // the last one told there
        Upgrade::PortWatch::Clock::time_point station_ended{};
        bool done = false; // without --repeat: its unit's turn is over
    };

    void take_listing();
    void choose_ports(const Upgrade::PortWatch::Listing& listing);
    bool serves(const QString& port) const;
    void begin(const DFU::DeviceItem& unit);
    void on_station_finished(const QString& port);
    void on_deadline();
    void end_if_done();
    void end();
    SummaryEvent summary() const;
    int exit_status() const;
    QString words(const char* id) const;

    const Options options;
    const Settings::Texts& texts;
    Report& report;
    const Upgrade::UnitUpgrade::Setup base;
    Upgrade::ProgramRecord* const record;
    std::unique_ptr<Upgrade::PortWatch> watch;
    std::map<QString, Port, PortOrder> ports;
    std::vector<std::unique_ptr<Station>> retired; // deleted once their signal has returned
    QTimer deadline;      // --wait: for the first unit, or for each port named
    bool chosen = false;  // without --repeat: the ports to serve are known
    bool stopping = false;
    bool ended = false;
};

} // namespace Cli
