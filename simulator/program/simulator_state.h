#pragma once
// The simulator's state between runs: the configuration in use and its units, in the state
// directory (ORVANTA_SIMULATOR_STATE_DIR, by default
// ${XDG_STATE_HOME:-$HOME/.local/state}/orvanta-dfu-simulator):
//   config   the name of the configuration in use; missing: the default is set up
//   order    the serials of the attached units, in listing order
//   units/   one folder per unit (see prepared_configurations.h)
//   lock     held (flock) by the run that uses the state
// Runs may overlap (the tool polls from its worker while a configuration is set up from
// elsewhere): each run holds the lock for as long as it lives, so that no run sees, or
// rebuilds, the state half-way through another's change. The kernel drops the lock when the
// run ends, however it ends.

#include "simulator/program/units.h"

#include <QFile>
#include <QString>

namespace simulator {

class SimulatorState : public Units {
public:
    // `fast`: transfers take no time (--fast-progress).
    explicit SimulatorState(bool fast);

    // Waits for the lock, at most two minutes (longer than the slowest simulated download).
    void lock();
    // Sets up the default configuration unless one is set up.
    void ensure_configuration();
    // False for an unknown name.
    bool set_up(const QString& name);

    std::vector<Unit> attached(bool scan) override;
    bool denied(const Unit& unit) override;
    bool claimed(const Unit& unit) override;
    QByteArray memory(const Unit& unit, int alt) override;
    void store_flash(const Unit& unit, const QByteArray& image) override;
    // Learns the desired firmware for a unit that should hold it, from the DfuSe file named
    // by ORVANTA_SIMULATOR_DESIRED_DFU or else the "firmware.dfu" beside `file`.
    void prepare_flash(const Unit& unit, const QString& file) override;
    UploadFault upload_fault(const Unit&, int, qint64, qint64) override {
        return UploadFault::none;
    }
    DownloadFault download_fault(const Unit& unit) override;
    // The unit stays away for the next six listings (about 3 s of polling) and then comes back
    // with a new address.
    void lose(const Unit& unit, const QByteArray& flash) override;
    qint64 upload_ms(int alt, qint64 address, qint64 bytes) override;
    qint64 download_ms(qint64 bytes) override;

private:
    QString units_dir() const;
    QString unit_path(const Unit& unit, const char* name) const;
    bool has(const Unit& unit, const char* name) const;

    QString dir_;
    QFile lock_;
    bool fast_;
};

} // namespace simulator
