// The central record as the window shows it: the indicator, and what the fleet knows of the
// unit connected.

#include "app/history_controller.h"
#include "app/window_program.h"
#include "gui/central_indicator.h"
#include "gui/main_window.h"
#include "history/central_words.h"
#include "upgrade/program_record.h"

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
        indicator->say(History::central_words(state, program.settings.gui));
}

void HistoryController::take_fleet(const std::optional<History::FleetUpgrade>& upgrade) {
    if (!upgrade_uuid.isEmpty())
        return; // its upgrade says more
    fleet_upgrade = upgrade;
    choose_unit_note();
}
