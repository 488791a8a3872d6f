// orvanta-upgrade: the window's upgrade for a production line's station, a test rig or a
// script, without a display. Verbs, options and exit statuses: packaging/linux/orvanta-upgrade.1.

#include "app/single_instance.h"
#include "app/termination_signals.h"
#include "app/workflow_setup.h"
#include "cli/exit_status.h"
#include "cli/history_listing.h"
#include "cli/options.h"
#include "cli/station.h"
#include "dfu/desired_firmware.h"
#include "simulator/simulator.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// The upgrade on the units, until the station ends.
int run_station(const Cli::Options& options, const Settings::Texts& texts) {
    point_commands(simulator::Setup::normal);
    const Files::Problem problem = prepare_working_files();
    // As the window's start-up log: which firmware, and who signed it.
    qInfo().noquote() << "Desired firmware:" << DFU::desired_FW_identity();
    Cli::Report report(options.json, texts);
    Cli::Station station(options, texts, report, make_worker(StartupOptions(), problem));
    on_termination_signals([&station](int) { station.stop(); });
    QObject::connect(&station, &Cli::Station::finished, &station,
                     [](int status) { QCoreApplication::exit(status); });
    station.start();
    return QCoreApplication::exec();
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
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("FirmwareUpgradeTool"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANTA_VERSION));
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
    SingleInstance instance(QStringLiteral(ORVANTA_APP_ID) +
                            (simulator::use ? QStringLiteral(".simulator") : QString()));
    if (!instance.claim()) {
        std::fprintf(stderr, "%s\n", qPrintable(texts.text(QStringLiteral("cli_locked"))));
        return Cli::locked;
    }
    return run_station(*options, texts);
}
