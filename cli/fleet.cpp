#include "cli/fleet.h"

#include "cli/exit_status.h"

#include <QDebug>

namespace Cli {

Fleet::Fleet(const Options& options_, const Settings::Texts& texts_, Report& report_,
             Upgrade::UnitUpgrade::Setup base_, Upgrade::ProgramRecord* record_)
    : options(options_), texts(texts_), report(report_), base(std::move(base_)),
      record(record_) {
    report.serve_ports();
    watch = std::make_unique<Upgrade::PortWatch>(base.pace.no_device_delay_ms);
    // The watch lists in its own thread: queued here, where its published copy is read.
    connect(watch.get(), &Upgrade::PortWatch::listed, this, &Fleet::take_listing,
            Qt::QueuedConnection);
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &Fleet::on_deadline);
}

// The stations' upgrades join their workers; every transfer has ended before (stop()).
Fleet::~Fleet() {
    watch.reset();
    ports.clear();
    retired.clear();
}

QString Fleet::words(const char* id) const {
    return plain(texts.text(QLatin1String(id)));
}

void Fleet::start() {
    report.step(words("cli_waiting_ports"));
    if (options.wait_seconds > 0 && !options.repeat)
        deadline.start(options.wait_seconds * 1000);
    watch->start(QThread::InheritPriority);
}

bool Fleet::serves(const QString& port) const {
    if (!options.ports.isEmpty() && !options.ports.contains(port))
        return false;
    return options.repeat || ports.count(port) > 0;
}

// Without --repeat the ports are chosen once: those named, or those of the first listing
// that shows a unit.
void Fleet::choose_ports(const Upgrade::PortWatch::Listing& listing) {
    if (chosen || options.repeat)
        return;
    QStringList chosen_ports = options.ports;
    if (chosen_ports.isEmpty())
        for (const DFU::DeviceItem& unit : listing.units)
            chosen_ports << unit.path;
    for (const QString& port : chosen_ports)
        ports[port];
    chosen = !chosen_ports.isEmpty();
}

// A port without a station gets one for the unit listed there; a listing that began before
// the port's last station ended may still show the unit that left, and starts none.
void Fleet::take_listing() {
    if (stopping || ended)
        return;
    const Upgrade::PortWatch::Listing listing = watch->listing();
    choose_ports(listing);
    for (const DFU::DeviceItem& unit : listing.units) {
        if (!serves(unit.path))
            continue;
        Port& port = ports[unit.path];
        const bool shared = Upgrade::units_with_serial(listing, unit.serial) > 1;
        if (!port.station && !port.done && listing.started > port.station_ended)
            begin(unit);
        if (port.station)
            port.station->set_serial_shared(shared);
    }
}

void Fleet::begin(const DFU::DeviceItem& unit) {
    Upgrade::UnitUpgrade::Setup setup = base;
    setup.unit = {unit.path, unit.serial};
    const auto turns = options.repeat ? Station::Turns::until_left : Station::Turns::one;
    Port& port = ports[unit.path];
    port.station = std::make_unique<Station>(options, texts, report, setup, record, turns);
    const QString path = unit.path;
    connect(port.station.get(), &Station::finished, this,
            [this, path] { on_station_finished(path); });
    connect(port.station.get(), &Station::outcome_told, this, &Fleet::outcome_told);
    port.station->start();
}

} // namespace Cli
