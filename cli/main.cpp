// orvanta-upgrade: the window's upgrade for a production line's station, a test rig or a
// script, without a display. Verbs, options and exit statuses: packaging/linux/orvanta-upgrade.1.

#include "cli/exit_status.h"
#include "cli/fleet.h"
#include "cli/history_listing.h"
#include "cli/options.h"
#include "cli/station.h"
#include "cli/station_metrics.h"
#include "dfu/desired_firmware.h"
#include "simulator/simulator.h"
#include "upgrade/program_names.h"
#include "upgrade/program_record.h"
#include "upgrade/single_instance.h"
#include "upgrade/termination_signals.h"
#include "upgrade/workflow_setup.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// The upgrade on the unit, or on every port, until the station (or each port's) ends; then
// the record's last rows.
template <typename Served, typename... Turns>
int serve(const Cli::Options& options, const Settings::Texts& texts, Turns... turns) {
    point_commands(simulator::Setup::normal);
    Upgrade::UnitUpgrade::Setup setup;
    setup.working_files = prepare_working_files();
    // As the window's start-up log: which firmware, and who signed it.
    qInfo().noquote() << "Desired firmware:" << DFU::desired_FW_identity();
    const auto record = Upgrade::ProgramRecord::for_program(simulator::use, options.central_record);
    Cli::Report report(options.json, texts);
    Served served(options, texts, report, setup, record.get(), turns...);
    std::unique_ptr<Cli::StationMetrics> metrics;
    if (!options.metrics_file.isEmpty()) {
        metrics = std::make_unique<Cli::StationMetrics>(options.metrics_file, record.get(),
                                                        [&served] { return served.units_in_progress(); });
        QObject::connect(&served, &Served::outcome_told, metrics.get(),
                         &Cli::StationMetrics::take_outcome);
    }
    on_termination_signals([&served](int) { served.stop(); });
    QObject::connect(&served, &Served::finished, &served, [&record](int status) {
        record->finish();
        QCoreApplication::exit(status);
    });
    record->start();
    if (metrics)
        metrics->start();
    served.start();
    return QCoreApplication::exec();
}

int run_station(const Cli::Options& options, const Settings::Texts& texts) {
    if (options.by_port())
        return serve<Cli::Fleet>(options, texts);
    using Turns = Cli::Station::Turns;
    return serve<Cli::Station>(options, texts, options.repeat ? Turns::each_unit : Turns::one);
}

Settings::Texts load_texts() {
    try {
        return Settings::shipped_texts();
    } catch (const QString& error) {
        // Only a build without the embedded settings gets here.
        qFatal("%s", qPrintable(error));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The window's names: the same data directory, hence the same upgrade record.
    set_program_names();
    QCoreApplication::setApplicationVersion(program_version());
    const Settings::Texts texts = load_texts();
    const std::optional<Cli::Options> options = Cli::parse_options(app.arguments(), texts);
    if (!options)
        return Cli::usage;
    simulator::use = options->simulator;
    if (options->verb == Cli::Verb::history) {
        Cli::Report report(options->json, texts);
        return Cli::list_history(*options, texts, report);
    }
    // The window's lock for this mode: one upgrade at a time, by window or by station.
    SingleInstance instance(lock_name(simulator::use));
    if (!instance.claim()) {
        std::fprintf(stderr, "%s\n", qPrintable(texts.text(QStringLiteral("cli_locked"))));
        return Cli::locked;
    }
    return run_station(*options, texts);
}
