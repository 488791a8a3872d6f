// The central record as the window shows it: the indicator, and what the fleet knows of the
// unit connected.

#include "app/globals.h"
#include "app/history_controller.h"
#include "gui/central_indicator.h"
#include "gui/main_window.h"

namespace {

QString text(const char* id) {
    return settings.gui.text(QLatin1String(id));
}

QString central_words(const History::CentralState& state) {
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
        indicator->say(central_words(state));
}

void HistoryController::take_fleet(const QString& serial,
                                   const std::optional<History::FleetUpgrade>& upgrade) {
    if (serial != unit_serial || !upgrade_uuid.isEmpty())
        return; // another unit by now, or its upgrade says more
    fleet_upgrade = upgrade;
    choose_unit_note();
}
