#include "app/history_controller.h"

#include "app/bench_identity.h"
#include "app/globals.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QCoreApplication>
#include <QSysInfo>

HistoryController::HistoryController(const QString& path, bool simulator_record_,
                                     const QString& central_connection)
    : recorder(path, QSysInfo::machineHostName()),
      attempts(bench_identity(settings.desired_revision)), simulator_record(simulator_record_) {
    connect_machine();
    connect_worker();
    connect_recorder();
    add_shortcut(mainWindow);
    if (!central_connection.isEmpty())
        join_central_record(central_connection);
    recorder.start(); // its first answers find their connections made
}

HistoryController::~HistoryController() {
    finish();
}

void HistoryController::put(const std::optional<History::UpgradeRow>& row) {
    if (!row)
        return;
    // To the recorder's thread, as a copy; its answers come back by its signals.
    QMetaObject::invokeMethod(recorder.recorder(), "put", Qt::QueuedConnection,
                              Q_ARG(History::UpgradeRow, *row));
}

void HistoryController::finish() {
    if (finished)
        return;
    finished = true;
    stop_asked = true;
    // A download or read-back under way runs to its end; what it reports is still queued.
    if (sm_A && attempts.attempt_pending())
        sm_A->wait(static_cast<unsigned long>(sm_A->give_up_after_ms));
    QCoreApplication::sendPostedEvents(this);
    if (sm_A && sm_A->isFinished())
        record_stop();
    if (shipper) // first: the marks of its last batch reach the recorder before its end
        shipper->finish_within(History::shipper_exit_wait_ms);
    recorder.finish_within(record_exit_wait_ms);
}

void add_history_connections(const QString& path, bool simulator_record,
                             const QString& central_connection) {
    finish_history();
    historyController = new HistoryController(path, simulator_record, central_connection);
}

void finish_history() {
    delete historyController; // finishes first
    historyController = nullptr;
}

HistoryWindow* history_window() {
    return historyController ? historyController->window() : nullptr;
}
