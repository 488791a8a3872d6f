#include "upgrade/program_record.h"

#include "history/store.h"
#include "upgrade/bench_identity.h"
#include "upgrade/central_setting.h"

#include <QCoreApplication>
#include <QSysInfo>

namespace Upgrade {

ProgramRecord::ProgramRecord(const QString& path, const QString& central_connection)
    : recorder_(path, QSysInfo::machineHostName()) {
    forward_recorder();
    if (central_connection.isEmpty())
        return;
    shipper_ = History::make_shipper(central_connection);
    central_not_understood_ = !shipper_;
    if (shipper_)
        forward_shipper();
}

std::unique_ptr<ProgramRecord> ProgramRecord::for_program(bool simulator,
                                                          const QString& central_option) {
    return std::make_unique<ProgramRecord>(History::default_path(simulator),
                                           central_record_setting(central_option, simulator));
}

ProgramRecord::~ProgramRecord() {
    finish();
}

// The recorder answers from its thread: queued here, as copies.
void ProgramRecord::forward_recorder() {
    History::Recorder* r = recorder_.recorder();
    const auto queued = Qt::QueuedConnection;
    connect(r, &History::Recorder::state_changed, this, &ProgramRecord::state_changed, queued);
    connect(r, &History::Recorder::row_written, this, &ProgramRecord::row_written, queued);
    connect(r, &History::Recorder::unit_known, this, &ProgramRecord::unit_known, queued);
    connect(r, &History::Recorder::outcome_counts, this, &ProgramRecord::outcome_counts, queued);
}

// Likewise the shipper, from its own thread.
void ProgramRecord::forward_shipper() {
    History::Shipper* s = shipper_->shipper();
    const auto queued = Qt::QueuedConnection;
    connect(s, &History::Shipper::state_changed, this, &ProgramRecord::central_state_changed, queued);
    connect(s, &History::Shipper::unit_known, this, &ProgramRecord::fleet_known, queued);
}

void ProgramRecord::start() {
    if (started)
        return;
    started = true;
    if (shipper_)
        shipper_->start(recorder_.recorder());
    recorder_.start();
}

void ProgramRecord::put(const History::UpgradeRow& row) {
    QMetaObject::invokeMethod(recorder_.recorder(), "put", Qt::QueuedConnection,
                              Q_ARG(History::UpgradeRow, row));
}

// To the recorder's thread and the shipper's, each by a queued call with a copy.
void ProgramRecord::ask_unit(const QString& serial) {
    QMetaObject::invokeMethod(recorder_.recorder(), "ask_unit", Qt::QueuedConnection,
                              Q_ARG(QString, serial));
    if (shipper_)
        QMetaObject::invokeMethod(shipper_->shipper(), "ask_unit", Qt::QueuedConnection,
                                  Q_ARG(QString, serial));
}

void ProgramRecord::ask_outcome_counts() {
    QMetaObject::invokeMethod(recorder_.recorder(), "ask_outcome_counts", Qt::QueuedConnection);
}

void ProgramRecord::finish() {
    if (finished)
        return;
    finished = true;
    if (shipper_)
        shipper_->finish_within(History::shipper_exit_wait_ms);
    recorder_.finish_within(record_exit_wait_ms);
    // Their last answers were queued here before their threads ended.
    QCoreApplication::sendPostedEvents(this);
}

} // namespace Upgrade
