// What the record adds to the line under the status line, and when it is said.

#include "app/history_controller.h"
#include "app/window_program.h"
#include "gui/main_window.h"

#include <QFileInfo>

namespace {

QString local_minutes(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

HintNote last_upgrade_note(const History::UpgradeRow& last, const QString& unknown) {
    const QString before = last.revision_before.isEmpty() ? unknown : last.revision_before;
    return {QStringLiteral("history_last_upgrade"),
            {local_minutes(last.ended_at), before, last.revision_after},
            true};
}

HintNote elsewhere_note(const History::FleetUpgrade& upgrade, const QString& unknown) {
    const QString before = upgrade.revision_before.isEmpty() ? unknown : upgrade.revision_before;
    return {QStringLiteral("history_elsewhere"),
            {upgrade.bench, upgrade.happened_at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd")),
             before, upgrade.revision_after},
            true};
}

} // namespace

// A new unit read (the unit's upgrade has asked the record and the fleet about it): its notes
// come with their answers (take_facts, take_fleet).
void HistoryController::on_unit_identified() {
    unit_connected = true;
    unit_note = interrupted_note = HintNote();
    local_upgrade.reset();
    fleet_upgrade.reset();
    moved_seen_with_unit = !moved_note.isEmpty();
    show_notes();
}

// The moved-aside note stays until the technician has seen it with a unit that has now left.
void HistoryController::on_unit_left() {
    unit_connected = false;
    unit_note = interrupted_note = HintNote();
    local_upgrade.reset();
    fleet_upgrade.reset();
    if (moved_seen_with_unit)
        moved_note = HintNote();
    moved_seen_with_unit = false;
    show_notes();
}

// A verified upgrade: its row is being written; what to do next is said once it is.
void HistoryController::on_attempt_ended(const History::UpgradeRow& row) {
    if (row.outcome != History::outcome_name(History::Outcome::upgraded))
        return;
    upgrade_uuid = row.uuid;
    unit_note = interrupted_note = HintNote();
    show_notes();
}

void HistoryController::take_facts(const History::UnitFacts& facts) {
    if (!upgrade_uuid.isEmpty())
        return; // its upgrade says more
    if (facts.interrupted)
        interrupted_note = {QStringLiteral("history_interrupted"),
                            {local_minutes(facts.interrupted->started_at)}, false, true};
    local_upgrade = facts.last_upgrade;
    choose_unit_note();
}

// The unit's newest upgrade: on another bench when the fleet knows a later one than this
// bench's record, else here. Answered in either order.
void HistoryController::choose_unit_note() {
    const bool elsewhere_later = fleet_upgrade && fleet_upgrade->elsewhere &&
                                 (!local_upgrade || fleet_upgrade->happened_at > local_upgrade->ended_at);
    const QString unknown = text("history_revision_unknown");
    if (elsewhere_later)
        unit_note = elsewhere_note(*fleet_upgrade, unknown);
    else if (local_upgrade)
        unit_note = last_upgrade_note(*local_upgrade, unknown);
    show_notes();
}

// After a verified upgrade, once its row is written: what to do next.
void HistoryController::take_written(const History::UpgradeRow& row) {
    if (row.uuid != upgrade_uuid)
        return;
    upgrade_uuid.clear();
    unit_note = {QStringLiteral("history_upgraded_recorded"), {program.settings.desired_revision},
                 true};
    show_notes();
}

void HistoryController::take_state(const History::RecorderState& state) {
    using Kind = History::RecorderState::Kind;
    if (state.moved_aside_to != moved_aside_to && !state.moved_aside_to.isEmpty()) {
        moved_aside_to = state.moved_aside_to;
        moved_note = {QStringLiteral("history_moved_aside"),
                      {QFileInfo(moved_aside_to).fileName()}};
        moved_seen_with_unit = unit_connected;
    }
    if (state.kind == Kind::newer)
        record_note = {QStringLiteral("history_newer"), {}};
    else if (state.kind == Kind::waiting && state.waiting > 0)
        record_note = {QStringLiteral("history_waiting"),
                       {QString::number(state.waiting), state.why},
                       true}; // calmly: nothing is lost
    else if (state.kind == Kind::waiting)
        record_note = {QStringLiteral("history_not_kept"), {state.why}};
    else
        record_note = HintNote();
    show_notes();
}

// The most pressing note is shown: an interrupted upgrade, the damaged record, rows that wait,
// then what the record knows of the unit.
void HistoryController::show_notes() {
    for (const HintNote* note : {&interrupted_note, &moved_note, &record_note, &unit_note})
        if (!note->isEmpty()) {
            show_hint_note(*note, program.settings.gui, program.mainWindow);
            return;
        }
    show_hint_note(HintNote(), program.settings.gui, program.mainWindow);
}
