#pragma once
// Which units are attached, and on which ports: one listing per poll serves every port, so that
// watching more sockets costs nothing while they are empty. Lists in a thread of its own (a
// dfu-util run blocks); the latest listing is published under the mutex and announced by
// listed(), which the thread that made the watch receives queued.

#include "dfu/run_target.h"
#include "dfu/scan.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <chrono>

namespace Upgrade {

class PortWatch : public QThread {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    struct Listing {
        std::vector<DFU::DeviceItem> units; // usable units with a port, in listing order
        DFU::Failure failure;               // why the listing failed, if it did
        Clock::time_point started;          // when the listing began
        quint64 number = 0;                 // 0: none yet
    };

    explicit PortWatch(int poll_ms, QObject* parent = nullptr);
    ~PortWatch() override; // stops, gives up the listing under way and joins

    // The latest listing, a copy taken under the mutex.
    Listing listing() const;
    // Ends the loop between listings; a listing under way is given up (it only reads).
    void stop();

signals:
    void listed();

protected:
    void run() override;

private:
    bool pause();
    void publish(const DFU::Scan& scan, Clock::time_point started);

    const int poll_ms;
    DFU::GiveUpSwitch give_up; // the stop's, raised from any thread
    DFU::RunTarget target;     // every unit: no port, the switch above

    // Guarded by mutex.
    mutable QMutex mutex;
    QWaitCondition woken;
    bool stopping = false;
    Listing latest;
};

// How many of the listed units report this serial.
int units_with_serial(const PortWatch::Listing& listing, const QString& serial);

} // namespace Upgrade
