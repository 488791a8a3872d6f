#include "upgrade/unit_upgrade.h"

#include "dfu/desired_firmware.h"
#include "upgrade/bench_identity.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

namespace Upgrade {

namespace {

// A port's folder name: its own characters where a file name may hold them.
QString folder_name(const QString& port) {
    QString name = QStringLiteral("unit-") + port;
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    return name;
}

} // namespace

UnitUpgrade::UnitUpgrade(const Setup& setup_, ProgramRecord* record_, QObject* parent)
    : QObject(parent), setup(setup_), record(record_), problem(setup_.working_files),
      attempts(bench_identity(DFU::desired_FW_Info().revision)) {
    make_folder();
    make_worker();
    if (setup.with_machine) {
        const Device::FW_Info& desired = DFU::desired_FW_Info();
        machine_ = std::make_unique<SM_B>(worker_.get(), desired.product.type, desired.revision);
        if (setup.debug_output)
            machine_->enable_debug_output();
    }
    // The record first: a moment's row is handed over before any view hears of the moment.
    if (machine_) {
        record_machine();
        record_worker();
    }
    if (record)
        follow_record();
    follow_progress();
    // The worker signals from its thread: queued here.
    connect(worker_.get(), &QThread::finished, this, &UnitUpgrade::on_worker_ended,
            Qt::QueuedConnection);
}

UnitUpgrade::~UnitUpgrade() {
    finish();
}

// The one unit attached works in the extraction directory, as it always has; a unit on a port
// in a folder of its own there, so that no two units' uploads can meet.
void UnitUpgrade::make_folder() {
    folder = Files::external_dir.path();
    if (setup.unit.port.isEmpty() || !problem.why.isEmpty())
        return;
    folder += QLatin1Char('/') + folder_name(setup.unit.port);
    if (!QDir().mkpath(folder))
        problem = {folder, QStringLiteral("the folder could not be made")};
}

// The worker's pace is set before its thread can exist.
void UnitUpgrade::make_worker() {
    worker_ = std::make_unique<SM_A>(Files::path_of(Files::desired_FW_fileName_dfu),
                                     Files::path_of(Files::desired_FW_fileName_bin),
                                     folder + QLatin1Char('/') + Files::uploaded_FW_fileName_bin);
    worker_->no_device_delay_ms = setup.pace.no_device_delay_ms;
    worker_->connected_delay_ms = setup.pace.connected_delay_ms;
    if (!setup.unit.port.isEmpty())
        worker_->serve_unit(setup.unit.port, folder);
    if (!problem.why.isEmpty())
        worker_->run_nothing(problem.where, problem.why);
    if (setup.debug_output)
        worker_->enable_debug_output();
}

// The worker publishes each percent, then signals from its thread: queued here, where the
// latest percent is read.
void UnitUpgrade::follow_progress() {
    SM_A* w = worker_.get();
    const auto queued = Qt::QueuedConnection;
    connect(
        w, &SM_A::sig_FwDownloading, this, [this] { phase = QStringLiteral("download"); }, queued);
    connect(
        w, &SM_A::sig_FwUploading, this, [this] { phase = QStringLiteral("read_back"); }, queued);
    connect(
        w, &SM_A::sig_FwProgress, this,
        [this] { emit transfer_progress(phase, worker_->transfer_percent()); }, queued);
}

void UnitUpgrade::start() {
    SM_A* w = worker_.get();
    if (!machine_) {
        w->start(QThread::InheritPriority);
        return;
    }
    connect(
        machine_.get(), &QStateMachine::started, w,
        [w] {
            qInfo() << "Starting sm_A";
            w->start(QThread::InheritPriority);
        },
        Qt::DirectConnection);
    machine_->start();
}

// Stopping happens between dfu-util runs, never in one. Never interrupted:
//  - a download (-D): a cut write leaves the unit with a partial image;
//  - the read-back (-U of the whole image): it is what "Firmware is upgraded" rests on.
// A listing or one of the two short reads under way is given up, which is harmless: they only
// read. Only the end of the process kills a transfer, as a last resort after a long bound
// (SM_A's destructor).
bool UnitUpgrade::stop(int bound_ms) {
    stop_asked = true;
    if (machine_)
        machine_->stop();
    if (worker_->stop_and_wait(bound_ms)) {
        record_stop();
        return true;
    }
    if (worker_->transfer_report().running != SM_A::Transfer::none)
        emit stopping_after_transfer();
    return false;
}

void UnitUpgrade::finish() {
    if (finished)
        return;
    finished = true;
    stop_asked = true;
    if (machine_)
        machine_->stop();
    worker_->do_stop();
    // A download or read-back under way runs to its end; what it reports is still queued.
    if (attempts.attempt_pending())
        worker_->wait(static_cast<unsigned long>(worker_->give_up_after_ms));
    QCoreApplication::sendPostedEvents(this);
    if (worker_->isFinished())
        record_stop();
    worker_.reset(); // joins the worker
    machine_.reset();
}

void UnitUpgrade::on_worker_ended() {
    if (stop_asked)
        record_stop();
    emit ended();
}

} // namespace Upgrade
