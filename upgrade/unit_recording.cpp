// The moments of an attempt that the record follows, each made into the row it writes
// (History::Attempts), and the record's answers about this upgrade's unit and rows.

#include "upgrade/program_record.h"
#include "upgrade/unit_upgrade.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

namespace Upgrade {

// The machine's signals come in this thread: handled at once.
void UnitUpgrade::record_machine() {
    SM_B* m = machine_.get();
    const auto direct = Qt::DirectConnection;
    connect(m, &SM_B::sig_DeviceConnected, this, &UnitUpgrade::on_unit_connected, direct);
    connect(m, &SM_B::sig_UpgradeImpossible, this, &UnitUpgrade::on_no_unit, direct);
    connect(
        m, &SM_B::sig_Upgrading, this, [this, m] { put(attempts.install_started(m->device_info)); },
        direct);
    connect(
        m, &SM_B::sig_UploadingVerifying, this,
        [this, m] { put(attempts.verification_started(m->device_info)); }, direct);
    connect(
        m, &SM_B::sig_FwMatches, this, [this] { put(attempts.verified(true, {})); }, direct);
    // The worker's situation is a copy taken under its mutex.
    connect(
        m, &SM_B::sig_FwDiffers, this,
        [this] { put(attempts.verified(false, worker_->situation().read_back)); }, direct);
    for (auto signal : {&SM_B::sig_DifferingRevision, &SM_B::sig_InvalidProduct})
        connect(
            m, signal, this, [this, m] { put(attempts.not_carried(m->device_info)); }, direct);
}

// The worker signals from its thread: queued here. Its transfer report and situation are
// mutex-guarded copies, read when the signal is handled.
void UnitUpgrade::record_worker() {
    SM_A* w = worker_.get();
    const auto queued = Qt::QueuedConnection;
    connect(
        w, &SM_A::sig_FwDownloading, this, [this] { put(attempts.download_started()); }, queued);
    connect(
        w, &SM_A::sig_FwDownloaded, this,
        [this, w] {
            const bool written = w->transfer_report().last == SM_A::Outcome::written;
            put(attempts.download_ended(written, w->situation().last_download));
        },
        queued);
    connect(
        w, &SM_A::sig_FwUploading, this, [this] { attempts.read_back_started(); }, queued);
}

// The program's record answers every unit: this upgrade keeps what concerns its own unit and
// rows.
void UnitUpgrade::follow_record() {
    connect(record, &ProgramRecord::unit_known, this,
            [this](const QString& serial, const History::UnitFacts& facts) {
                if (serial == unit_serial)
                    emit unit_known(facts);
            });
    connect(record, &ProgramRecord::fleet_known, this,
            [this](const QString& serial, const std::optional<History::FleetUpgrade>& upgrade) {
                if (serial == unit_serial)
                    emit fleet_known(upgrade);
            });
    connect(record, &ProgramRecord::row_written, this, [this](const History::UpgradeRow& row) {
        if (!own_uuids.contains(row.uuid))
            return;
        kept_uuid = row.uuid;
        kept_outcome = row.outcome;
        emit row_kept(row);
    });
}

// A unit read: the row of an attempt that lost its unit, and a question about the unit, unless
// it is the install's own unit read again after its download.
void UnitUpgrade::on_unit_connected() {
    put(attempts.unit_connected(machine_->device_after_download));
    if (attempts.install_written())
        return;
    unit_serial = machine_->device_info.serial;
    if (record)
        record->ask_unit(unit_serial);
    emit unit_identified(unit_serial);
}

void UnitUpgrade::on_no_unit() {
    if (attempts.install_pending())
        return; // the unit is read again after the download
    unit_serial.clear();
    emit unit_left();
}

// What a stop left unfinished, once the worker has ended (a transfer runs to its end).
void UnitUpgrade::record_stop() {
    if (stop_recorded || !machine_)
        return;
    stop_recorded = true;
    put(attempts.stopped(worker_->transfer_report().last == SM_A::Outcome::matches));
}

void UnitUpgrade::put(const std::optional<History::UpgradeRow>& row) {
    if (!row)
        return;
    own_uuids.insert(row->uuid);
    if (record)
        record->put(*row);
    if (row->outcome == History::outcome_name(History::Outcome::in_progress))
        return;
    ended_row = row;
    emit attempt_ended(*row);
}

std::optional<History::UpgradeRow> UnitUpgrade::take_outcome() {
    std::optional<History::UpgradeRow> row;
    row.swap(ended_row);
    return row;
}

bool UnitUpgrade::kept(const History::UpgradeRow& row) const {
    return row.uuid == kept_uuid && row.outcome == kept_outcome;
}

void UnitUpgrade::give_up_unit() {
    put(attempts.unit_connected(false));
}

} // namespace Upgrade
