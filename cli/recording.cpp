#include "cli/recording.h"

#include "app/bench_identity.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QSysInfo>

namespace Cli {

Recording::Recording(SM_A* worker, SM_B* machine, const QString& path,
                     const QString& central_record)
    : recorder(path, QSysInfo::machineHostName()),
      attempts(bench_identity(SM_B::desired_revision)) {
    connect_machine(machine, worker);
    connect_worker(worker);
    // The recorder answers from its thread: queued here, as a copy.
    connect(
        recorder.recorder(), &History::Recorder::row_written, this,
        [this](const History::UpgradeRow& row) {
            kept_uuid = row.uuid;
            kept_outcome = row.outcome;
            emit row_kept(row);
        },
        Qt::QueuedConnection);
    if (!central_record.isEmpty())
        shipper = History::make_shipper(central_record);
    if (shipper)
        shipper->start(recorder.recorder());
    recorder.start();
}

Recording::~Recording() {
    finish();
}

// The machine's signals come in the main thread: handled at once, as the window does.
void Recording::connect_machine(SM_B* m, SM_A* w) {
    const auto direct = Qt::DirectConnection;
    connect(
        m, &SM_B::sig_DeviceConnected, this,
        [this, m] { put(attempts.unit_connected(m->device_after_download)); }, direct);
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
        [this, w] { put(attempts.verified(false, w->situation().read_back)); }, direct);
    for (auto signal : {&SM_B::sig_DifferingRevision, &SM_B::sig_InvalidProduct})
        connect(
            m, signal, this, [this, m] { put(attempts.not_carried(m->device_info)); }, direct);
}

// The worker signals from its thread: queued here. Its transfer report and situation are
// mutex-guarded copies, read when the signal is handled.
void Recording::connect_worker(SM_A* w) {
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

void Recording::put(const std::optional<History::UpgradeRow>& row) {
    if (!row)
        return;
    if (row->outcome != History::outcome_name(History::Outcome::in_progress))
        ended = row;
    // To the recorder's thread, as a copy; its answers come back by its signals.
    QMetaObject::invokeMethod(recorder.recorder(), "put", Qt::QueuedConnection,
                              Q_ARG(History::UpgradeRow, *row));
}

std::optional<History::UpgradeRow> Recording::take_outcome() {
    std::optional<History::UpgradeRow> row;
    row.swap(ended);
    return row;
}

bool Recording::kept(const History::UpgradeRow& row) const {
    return row.uuid == kept_uuid && row.outcome == kept_outcome;
}

void Recording::give_up_unit() {
    put(attempts.unit_connected(false));
}

void Recording::record_stop(bool matched) {
    put(attempts.stopped(matched));
}

void Recording::finish() {
    if (finished)
        return;
    finished = true;
    if (shipper) // first: the marks of its last batch reach the recorder before its end
        shipper->finish_within(History::shipper_exit_wait_ms);
    recorder.finish_within(record_exit_wait_ms);
}

} // namespace Cli
