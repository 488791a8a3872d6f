#include "app/history_wiring.h"

#include "app/globals.h"
#include "app/history_hint.h"
#include "files/files.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "history/attempt.h"
#include "history/csv.h"
#include "history/store.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QShortcut>
#include <QSysInfo>

#include <algorithm>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace {

struct HistoryState {
    explicit HistoryState(const QString& path, History::Identity identity)
        : store(path), attempts(std::move(identity)) {}
    History::Store store;
    History::Attempts attempts;
    QObject context; // the connections' context: they end with the state
    HistoryWindow* window = nullptr;
    bool stop_asked = false;
    HintNote unit_note;   // of the connected unit
    HintNote moved_note;  // a damaged record moved aside: said once, until a unit is read
    HintNote unkept_note; // the record is not being kept
};
std::unique_ptr<HistoryState> state;

QString sha256_of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

QString user_name() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : qEnvironmentVariable("USER");
}

History::Identity identity() {
    return {settings.desired_revision,
            sha256_of(QStringLiteral(":resources/") + Files::desired_FW_fileName_bin),
            QStringLiteral(ORVANTA_VERSION), QSysInfo::machineHostName(), user_name()};
}

void show_notes() {
    const HistoryState& s = *state;
    show_hint_note(!s.unit_note.isEmpty()    ? s.unit_note
                   : !s.moved_note.isEmpty() ? s.moved_note
                                             : s.unkept_note);
}

void take_opened(const History::Store::Opened& opened) {
    if (!opened.moved_aside_to.isEmpty()) {
        qWarning().noquote() << "History: the record was not a usable database; moved aside to"
                             << opened.moved_aside_to;
        state->moved_note = {QStringLiteral("history_moved_aside"),
                             {QFileInfo(opened.moved_aside_to).fileName()}};
    }
    if (opened.ok)
        return;
    qWarning().noquote() << "History: cannot open" << state->store.path() << ":" << opened.why;
    state->unkept_note = {QStringLiteral("history_not_kept"), {opened.why}};
}

// Writes the row, opening the record first when it is not open; says why when it is not kept.
bool keep(const History::UpgradeRow& row, QString* why) {
    if (!state->store.is_open())
        take_opened(state->store.open());
    if (!state->store.append(row, why)) {
        qWarning().noquote() << "History: row not kept:" << *why;
        state->unkept_note = {QStringLiteral("history_not_kept"), {*why}};
        return false;
    }
    qInfo().noquote() << "History: recorded" << row.outcome << "of" << row.serial;
    state->unkept_note = HintNote();
    if (state->window)
        state->window->reload();
    return true;
}

void record(const std::optional<History::UpgradeRow>& row) {
    QString why;
    if (row)
        keep(*row, &why);
    show_notes();
}

// A unit read: the row of an install that lost its unit, and what the record knows of it.
void on_unit_connected() {
    record(state->attempts.unit_connected(sm_B->device_info));
    if (state->attempts.install_pending())
        return; // its own unit, read again after the download
    state->moved_note = HintNote();
    state->unit_note = HintNote();
    if (const auto last = state->store.last_upgrade(sm_B->device_info.serial)) {
        const QString before = last->revision_before.isEmpty()
                                   ? settings.gui.text(QStringLiteral("history_revision_unknown"))
                                   : last->revision_before;
        state->unit_note = {
            QStringLiteral("history_last_upgrade"),
            {last->ended_at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")), before,
             last->revision_after},
            true};
    }
    show_notes();
}

void on_no_unit() {
    if (state->attempts.install_pending())
        return; // the unit is read again after the download
    state->unit_note = HintNote();
    show_notes();
}

void on_downloaded() {
    const bool written = sm_A->transfer_report().last == SM_A::Outcome::written;
    record(state->attempts.download_ended(written, sm_A->situation().last_download));
}

// After a verified upgrade: what to do next, and whether it was recorded.
void on_matches() {
    const bool install = state->attempts.install_pending();
    const std::optional<History::UpgradeRow> row = state->attempts.verified(true, {});
    if (!row)
        return;
    QString why;
    const bool kept = keep(*row, &why);
    if (install)
        state->unit_note = kept ? HintNote{QStringLiteral("history_upgraded_recorded"),
                                           {settings.desired_revision},
                                           true}
                                : HintNote{QStringLiteral("history_upgraded_not_recorded"), {why}};
    show_notes();
}

// What a stop left unfinished, once the worker has ended (a transfer runs to its end).
void record_stop() {
    if (!state || !state->stop_asked)
        return;
    record(state->attempts.stopped(sm_A->transfer_report().last == SM_A::Outcome::matches));
}

void connect_machine(QObject* context) {
    const auto direct = Qt::DirectConnection;
    QObject::connect(sm_B, &SM_B::sig_DeviceConnected, context, &on_unit_connected, direct);
    QObject::connect(sm_B, &SM_B::sig_UpgradeImpossible, context, &on_no_unit, direct);
    QObject::connect(
        sm_B, &SM_B::sig_Upgrading, context,
        [] { state->attempts.install_started(sm_B->device_info); }, direct);
    QObject::connect(
        sm_B, &SM_B::sig_UploadingVerifying, context,
        [] { state->attempts.verification_started(sm_B->device_info); }, direct);
    QObject::connect(sm_B, &SM_B::sig_FwMatches, context, &on_matches, direct);
    QObject::connect(
        sm_B, &SM_B::sig_FwDiffers, context,
        [] { record(state->attempts.verified(false, sm_A->situation().read_back)); }, direct);
    for (auto signal : {&SM_B::sig_DifferingRevision, &SM_B::sig_InvalidProduct})
        QObject::connect(
            sm_B, signal, context, [] { record(state->attempts.not_carried(sm_B->device_info)); },
            direct);
    // After the explanation has been drawn (add_connections made its connection first).
    QObject::connect(sm_B, &SM_B::sig_ExplanationChanged, context, &show_notes, direct);
}

// The worker signals from its thread: queued to the GUI thread, where the record is written.
// Its transfer report and situation are mutex-guarded copies, read when the signal is handled.
void connect_worker(QObject* context) {
    const auto queued = Qt::QueuedConnection;
    QObject::connect(
        sm_A, &SM_A::sig_FwDownloading, context, [] { state->attempts.download_started(); },
        queued);
    QObject::connect(sm_A, &SM_A::sig_FwDownloaded, context, &on_downloaded, queued);
    QObject::connect(
        sm_A, &SM_A::sig_FwUploading, context, [] { state->attempts.read_back_started(); }, queued);
    QObject::connect(sm_A, &QThread::finished, context, &record_stop, queued);
    QObject::connect(
        mainWindow, &MainWindow::finished, context, [] { state->stop_asked = true; },
        Qt::DirectConnection);
}

// The window's questions answered at once from the store, in the GUI thread (direct calls).
void answer_window(HistoryWindow* window, History::Store* store) {
    QObject::connect(window, &HistoryWindow::rows_wanted, window,
                     [window, store](const History::RowQuery& query) {
                         const std::vector<History::UpgradeRow> all =
                             store->rows(query.serial_filter);
                         History::RowPage page{query.request, query.offset, int(all.size()), {}};
                         const int first = std::clamp(query.offset, 0, page.total);
                         const int end = first + std::clamp(query.count, 0, page.total - first);
                         page.rows.assign(all.begin() + first, all.begin() + end);
                         window->take_rows(page);
                     });
    QObject::connect(window, &HistoryWindow::export_wanted, window,
                     [window, store](const QString& path, const QString& filter) {
                         QString why;
                         History::write_csv(path, store->rows(filter), &why);
                         window->take_export_result(path, why);
                     });
}

// Ctrl+H toggles the history window from either window.
void add_window() {
    // One record for the real units and the simulator's plays, for now.
    state->window = new HistoryWindow(settings.gui, false);
    answer_window(state->window, &state->store);
    for (QWidget* parent :
         {static_cast<QWidget*>(mainWindow.data()), static_cast<QWidget*>(state->window)}) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_H), parent);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, shortcut, [] {
            if (state && state->window)
                state->window->toggle_visibility(mainWindow);
        });
    }
}

} // namespace

void add_history_connections(const QString& path) {
    finish_history();
    state = std::make_unique<HistoryState>(path, identity());
    qInfo().noquote() << "History: the record is" << path;
    take_opened(state->store.open());
    connect_machine(&state->context);
    connect_worker(&state->context);
    add_window();
    show_notes();
}

void finish_history() {
    if (!state)
        return;
    state->stop_asked = true;
    // A download or read-back under way runs to its end; what it reports is still queued.
    if (sm_A && state->attempts.attempt_pending())
        sm_A->wait(static_cast<unsigned long>(sm_A->give_up_after_ms));
    QCoreApplication::sendPostedEvents(&state->context);
    if (sm_A && sm_A->isFinished())
        record_stop();
    delete state->window;
    state.reset();
}

HistoryWindow* history_window() {
    return state ? state->window : nullptr;
}
