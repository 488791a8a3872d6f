#include "app/history_controller.h"

#include "app/window_program.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "upgrade/program_record.h"
#include "upgrade/unit_upgrade.h"

#include <QShortcut>

HistoryController::HistoryController(WindowProgram& program_, bool simulator_record_)
    : program(program_), simulator_record(simulator_record_) {
    follow_upgrade();
    follow_record();
    add_shortcut(program.mainWindow);
    if (program.record->shipper() || program.record->central_not_understood())
        join_central_record();
}

HistoryController::~HistoryController() = default;

QString HistoryController::text(const char* id) const {
    return program.settings.gui.text(QLatin1String(id));
}

// The unit's upgrade tells its facts in this thread, after the record has its rows.
void HistoryController::follow_upgrade() {
    using Upgrade::UnitUpgrade;
    UnitUpgrade* u = program.upgrade.get();
    connect(u, &UnitUpgrade::unit_identified, this, &HistoryController::on_unit_identified);
    connect(u, &UnitUpgrade::unit_left, this, &HistoryController::on_unit_left);
    connect(u, &UnitUpgrade::attempt_ended, this, &HistoryController::on_attempt_ended);
    connect(u, &UnitUpgrade::row_kept, this, &HistoryController::take_written);
    connect(u, &UnitUpgrade::unit_known, this, &HistoryController::take_facts);
    connect(u, &UnitUpgrade::fleet_known, this, &HistoryController::take_fleet);
}

// The program's record hands its answers over in this thread (ProgramRecord).
void HistoryController::follow_record() {
    connect(program.record.get(), &Upgrade::ProgramRecord::state_changed, this,
            &HistoryController::take_state);
}

// Made the first time it is opened. It asks the recorder and is answered by it; both cross
// threads as copies.
HistoryWindow* HistoryController::open_window() {
    window_ = std::make_unique<HistoryWindow>(program.settings.gui, simulator_record);
    History::Recorder* r = program.record->recorder();
    History::Shipper* s = program.record->shipper();
    HistoryWindow* w = window_.get();
    const auto queued = Qt::QueuedConnection;
    // This bench's rows from the recorder, the fleet's from the shipper: to either's thread.
    connect(w, &HistoryWindow::rows_wanted, this, [r, s](const History::RowQuery& query) {
        QObject* reader = query.fleet && s ? static_cast<QObject*>(s) : r;
        QMetaObject::invokeMethod(reader, "ask_rows", Qt::QueuedConnection,
                                  Q_ARG(History::RowQuery, query));
    });
    connect(w, &HistoryWindow::export_wanted, r, &History::Recorder::export_csv, queued);
    connect(r, &History::Recorder::rows_ready, w, &HistoryWindow::take_rows, queued);
    connect(r, &History::Recorder::exported, w, &HistoryWindow::take_export_result, queued);
    connect(r, &History::Recorder::row_written, w, &HistoryWindow::reload, queued);
    if (s) {
        connect(s, &History::Shipper::rows_ready, w, &HistoryWindow::take_rows, queued);
        w->offer_fleet();
    }
    add_shortcut(w);
    return w;
}

void HistoryController::toggle_window() {
    (window_ ? window_.get() : open_window())->toggle_visibility(program.mainWindow);
}

// Ctrl+H toggles the history window from either window.
void HistoryController::add_shortcut(QWidget* window) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_H), window);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &HistoryController::toggle_window);
}

HistoryWindow* history_window(const WindowProgram& program) {
    return program.history ? program.history->window() : nullptr;
}
