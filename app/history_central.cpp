// The central record as the window shows it: the indicator, and what the fleet knows of the
// unit connected.

#include "app/globals.h"
#include "app/history_controller.h"
#include "gui/central_indicator.h"
#include "gui/main_window.h"
#include "history/central_words.h"

namespace {

QString text(const char* id) {
    return settings.gui.text(QLatin1String(id));
}

} // namespace

// The shipper's answers come back queued; a setting that is not a connection string is said
// in the indicator, and the bench works on without a central record.
void HistoryController::join_central_record(const QString& connection) {
    if (mainWindow)
        indicator = add_central_indicator(&settings, mainWindow);
    shipper = History::make_shipper(connection);
    if (!shipper) {
        if (indicator)
            indicator->say(text("central_not_understood"));
        return;
    }
    History::Shipper* s = shipper->shipper();
    const auto queued = Qt::QueuedConnection;
    connect(s, &History::Shipper::state_changed, this, &HistoryController::take_central_state, queued);
    connect(s, &History::Shipper::unit_known, this, &HistoryController::take_fleet, queued);
    take_central_state(History::CentralState());
    shipper->start(recorder.recorder());
}

void HistoryController::take_central_state(const History::CentralState& state) {
    if (indicator)
        indicator->say(History::central_words(state, settings.gui));
}

void HistoryController::take_fleet(const QString& serial,
                                   const std::optional<History::FleetUpgrade>& upgrade) {
    if (serial != unit_serial || !upgrade_uuid.isEmpty())
        return; // another unit by now, or its upgrade says more
    fleet_upgrade = upgrade;
    choose_unit_note();
}
