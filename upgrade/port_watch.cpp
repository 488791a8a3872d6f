#include "upgrade/port_watch.h"

#include "dfu/run_watch.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

namespace Upgrade {

PortWatch::PortWatch(int poll_ms_, QObject* parent) : QThread(parent), poll_ms(poll_ms_) {
    target.give_up = &give_up;
}

PortWatch::~PortWatch() {
    stop();
    wait();
}

PortWatch::Listing PortWatch::listing() const {
    QMutexLocker lock(&mutex);
    return latest;
}

void PortWatch::stop() {
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        woken.wakeAll();
    }
    give_up.give_up_short_runs();
}

bool PortWatch::pause() {
    QDeadlineTimer deadline(qMax(0, poll_ms));
    QMutexLocker lock(&mutex);
    while (!stopping && !deadline.hasExpired())
        woken.wait(&mutex, deadline);
    return stopping;
}

void PortWatch::run() {
    do {
        const Clock::time_point started = Clock::now();
        DFU::Scan scan;
        {
            // Polled: the stations say what they see of their own units.
            DFU::RunWatch quiet(DFU::RunWatch::Logging::quiet);
            scan = DFU::make_scan(target);
        }
        publish(scan, started);
        emit listed();
    } while (!pause());
}

// Only units with a port can be served by port; only usable ones at all.
void PortWatch::publish(const DFU::Scan& scan, Clock::time_point started) {
    Listing now;
    for (const DFU::DeviceItem& item : scan.devices)
        if (item.usable && !item.path.isEmpty())
            now.units.push_back(item);
    now.failure = scan.failure;
    now.started = started;
    QMutexLocker lock(&mutex);
    now.number = latest.number + 1;
    latest = now;
}

int units_with_serial(const PortWatch::Listing& listing, const QString& serial) {
    int n = 0;
    for (const DFU::DeviceItem& item : listing.units)
        n += item.serial == serial ? 1 : 0;
    return n;
}

} // namespace Upgrade
