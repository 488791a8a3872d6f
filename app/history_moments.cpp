// The workflow's moments that the record follows, and the recorder's and window's answers.

#include "app/globals.h"
#include "app/history_controller.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QShortcut>

// The machine's signals come in the GUI thread: handled at once.
void HistoryController::connect_machine() {
    const auto direct = Qt::DirectConnection;
    connect(sm_B, &SM_B::sig_DeviceConnected, this, &HistoryController::on_unit_connected, direct);
    connect(sm_B, &SM_B::sig_UpgradeImpossible, this, &HistoryController::on_no_unit, direct);
    connect(
        sm_B, &SM_B::sig_Upgrading, this,
        [this] { put(attempts.install_started(sm_B->device_info)); }, direct);
    connect(
        sm_B, &SM_B::sig_UploadingVerifying, this,
        [this] { put(attempts.verification_started(sm_B->device_info)); }, direct);
    connect(sm_B, &SM_B::sig_FwMatches, this, &HistoryController::on_matches, direct);
    connect(
        sm_B, &SM_B::sig_FwDiffers, this,
        [this] { put(attempts.verified(false, sm_A->situation().read_back)); }, direct);
    for (auto signal : {&SM_B::sig_DifferingRevision, &SM_B::sig_InvalidProduct})
        connect(
            sm_B, signal, this, [this] { put(attempts.not_carried(sm_B->device_info)); }, direct);
}

// The worker signals from its thread: queued to the GUI thread. Its transfer report and
// situation are mutex-guarded copies, read when the signal is handled.
void HistoryController::connect_worker() {
    const auto queued = Qt::QueuedConnection;
    connect(
        sm_A, &SM_A::sig_FwDownloading, this, [this] { put(attempts.download_started()); }, queued);
    connect(sm_A, &SM_A::sig_FwDownloaded, this, &HistoryController::on_downloaded, queued);
    connect(
        sm_A, &SM_A::sig_FwUploading, this, [this] { attempts.read_back_started(); }, queued);
    connect(sm_A, &QThread::finished, this, &HistoryController::record_stop, queued);
    connect(
        mainWindow, &MainWindow::finished, this, [this] { stop_asked = true; },
        Qt::DirectConnection);
}

// The recorder answers from its thread: queued to the GUI thread, as copies.
void HistoryController::connect_recorder() {
    History::Recorder* r = recorder.recorder();
    const auto queued = Qt::QueuedConnection;
    connect(r, &History::Recorder::state_changed, this, &HistoryController::take_state, queued);
    connect(r, &History::Recorder::unit_known, this, &HistoryController::take_facts, queued);
    connect(r, &History::Recorder::row_written, this, &HistoryController::take_written, queued);
}

// Made the first time it is opened. It asks the recorder and is answered by it; both cross
// threads as copies.
HistoryWindow* HistoryController::open_window() {
    window_ = std::make_unique<HistoryWindow>(settings.gui, simulator_record);
    History::Recorder* r = recorder.recorder();
    HistoryWindow* w = window_.get();
    const auto queued = Qt::QueuedConnection;
    // This bench's rows from the recorder, the fleet's from the shipper: to either's thread.
    connect(w, &HistoryWindow::rows_wanted, this, [this, r](const History::RowQuery& query) {
        QObject* reader = query.fleet && shipper ? static_cast<QObject*>(shipper->shipper()) : r;
        QMetaObject::invokeMethod(reader, "ask_rows", Qt::QueuedConnection,
                                  Q_ARG(History::RowQuery, query));
    });
    connect(w, &HistoryWindow::export_wanted, r, &History::Recorder::export_csv, queued);
    connect(r, &History::Recorder::rows_ready, w, &HistoryWindow::take_rows, queued);
    connect(r, &History::Recorder::exported, w, &HistoryWindow::take_export_result, queued);
    connect(r, &History::Recorder::row_written, w, &HistoryWindow::reload, queued);
    if (shipper) {
        connect(shipper->shipper(), &History::Shipper::rows_ready, w, &HistoryWindow::take_rows, queued);
        w->offer_fleet();
    }
    add_shortcut(w);
    return w;
}

void HistoryController::toggle_window() {
    (window_ ? window_.get() : open_window())->toggle_visibility(mainWindow);
}

// Ctrl+H toggles the history window from either window.
void HistoryController::add_shortcut(QWidget* window) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_H), window);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &HistoryController::toggle_window);
}

void HistoryController::on_downloaded() {
    const bool written = sm_A->transfer_report().last == SM_A::Outcome::written;
    put(attempts.download_ended(written, sm_A->situation().last_download));
}

// What a stop left unfinished, once the worker has ended (a transfer runs to its end).
void HistoryController::record_stop() {
    if (stop_asked)
        put(attempts.stopped(sm_A->transfer_report().last == SM_A::Outcome::matches));
}
