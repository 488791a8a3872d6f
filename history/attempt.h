#pragma once
// Follows what the workflow does with a unit, from the click on install or the start of a
// verification to its outcome, and makes the row the record keeps of it: written ahead when the
// attempt begins (outcome `in_progress`), again at each phase it reaches, and once more, the
// last time, at its outcome. Told of each moment by the wiring, in the GUI thread; knows
// nothing of the workflow's objects.

#include "dfu/device_info.h"
#include "dfu/failure_cause.h"
#include "history/upgrade_row.h"

#include <QElapsedTimer>

#include <optional>

namespace History {

// What every row of this run of the program carries.
struct Identity {
    QString desired_revision;
    QString firmware_sha256; // of the carried DfuSe file
    QString firmware_key_id; // of its signer, or "development, unsigned"
    QString tool_version;
    QString host;
    QString user;
};

class Attempts {
public:
    explicit Attempts(Identity identity);

    // Each returns the row to write now, if the moment changed one: an attempt begun, a phase
    // reached, or an outcome. Every row of an attempt names the unit's USB port, as the
    // listing gave it (DFU::DeviceInfo::port).
    // `after_download`: the worker read the install's own unit again after its download.
    std::optional<UpgradeRow> unit_connected(bool after_download);
    UpgradeRow install_started(const DFU::DeviceInfo& unit);
    std::optional<UpgradeRow> download_started();
    std::optional<UpgradeRow> download_ended(bool written, const DFU::Failure& failure);
    // The re-read unit after a download: another revision than the carried one (or a unit
    // that cannot be upgraded) ends the install.
    std::optional<UpgradeRow> not_carried(const DFU::DeviceInfo& unit);
    UpgradeRow verification_started(const DFU::DeviceInfo& unit);
    void read_back_started();
    std::optional<UpgradeRow> verified(bool matches, const DFU::Failure& read_back);
    // The workflow was stopped; `matched`: a read-back that ran to its end matched.
    std::optional<UpgradeRow> stopped(bool matched);

    // Another attached unit reports the unit's serial: said in the rows from now on.
    void set_serial_shared(bool shared);

    bool install_pending() const { return pending && pending->install; }
    // An install whose download wrote the unit, waiting for its read-back.
    bool install_written() const { return install_pending() && pending->written; }
    bool attempt_pending() const { return pending.has_value(); }

private:
    struct Pending {
        bool install = false;
        bool written = false; // the download ended with exit code 0
        UpgradeRow row;
        QElapsedTimer download;
        QElapsedTimer read_back;
    };
    UpgradeRow begin(bool install, const DFU::DeviceInfo& unit, Phase phase);
    UpgradeRow reach(Phase phase);
    UpgradeRow finish(Outcome outcome, const DFU::Failure& failure = {});

    const Identity identity;
    std::optional<Pending> pending;
    bool serial_shared = false;
};

// The words kept of a failure: dfu-util's own when it wrote any, else the cause's name.
QString cause_of(const DFU::Failure& failure);

} // namespace History
