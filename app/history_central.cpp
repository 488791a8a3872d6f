// The central record as the window shows it: the indicator, and what the fleet knows of the
// unit connected.

#include "app/history_controller.h"
#include "app/window_program.h"
#include "gui/central_indicator.h"
#include "gui/main_window.h"
#include "upgrade/program_record.h"

#include <functional>

namespace {

QString central_words(const History::CentralState& state,
                      const std::function<QString(const char*)>& text) {
    using Kind = History::CentralState::Kind;
    const QString waiting = QString::number(state.waiting);
    switch (state.kind) {
    case Kind::connecting:
        return text("central_connecting");
    case Kind::up_to_date:
        return text("central_up_to_date");
    case Kind::shipping:
        return text("central_shipping").arg(waiting);
    case Kind::not_reached:
        return state.reached_at.isValid()
                   ? text("central_not_reached").arg(waiting, state.reached_at.toString(QStringLiteral("HH:mm")))
                   : text("central_never_reached").arg(waiting, state.why);
    case Kind::refused:
        return text("central_refused").arg(state.why);
    case Kind::unknown_schema:
        return text("central_unknown_schema").arg(state.why);
    }
    return QString();
}

} // namespace

// The shipper's answers come back through the program's record; a setting that is not a
// connection string is said in the indicator, and the bench works on without a central record.
void HistoryController::join_central_record() {
    if (program.mainWindow)
        indicator = add_central_indicator(&program.settings, program.mainWindow);
    if (program.record->central_not_understood()) {
        if (indicator)
            indicator->say(text("central_not_understood"));
        return;
    }
    connect(program.record.get(), &Upgrade::ProgramRecord::central_state_changed, this,
            &HistoryController::take_central_state);
    take_central_state(History::CentralState());
}

void HistoryController::take_central_state(const History::CentralState& state) {
    if (indicator)
        indicator->say(central_words(state, [this](const char* id) { return text(id); }));
}

void HistoryController::take_fleet(const std::optional<History::FleetUpgrade>& upgrade) {
    if (!upgrade_uuid.isEmpty())
        return; // its upgrade says more
    fleet_upgrade = upgrade;
    choose_unit_note();
}
