// How a unit's turn ends, and how the station ends: an outcome is told once the record has
// kept its row (or a moment has passed); a stop waits for the transfer under way.

#include "cli/exit_status.h"
#include "cli/station.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <cstdio>

namespace Cli {

namespace {

constexpr int record_wait_ms = 3000;

QString transfer_name(SM_A::Outcome outcome) {
    switch (outcome) {
    case SM_A::Outcome::written:
        return QStringLiteral("written");
    case SM_A::Outcome::write_failed:
        return QStringLiteral("write_failed");
    case SM_A::Outcome::matches:
        return QStringLiteral("matches");
    case SM_A::Outcome::differs:
        return QStringLiteral("differs");
    case SM_A::Outcome::none:
        break;
    }
    return QString();
}

// The outcome as the record keeps it.
void take_row(OutcomeEvent& o, const History::UpgradeRow& row) {
    o.outcome = row.outcome;
    o.serial = row.serial;
    o.revision_before = row.revision_before;
    o.revision_after = row.revision_after;
    o.cause = row.cause;
    if (row.started_at.isValid() && row.ended_at.isValid())
        o.duration_s = row.started_at.msecsTo(row.ended_at) / 1000.0;
}

} // namespace

void Station::conclude(OutcomeEvent o) {
    if (ending || turn == Turn::told)
        return;
    turn = Turn::told;
    deadline.stop();
    exit_status = o.exit_status;
    o.words = words("cli_outcome").arg(o.outcome, QString::number(o.exit_status));
    untold = o;
    if (untold_row && !upgrade->kept(*untold_row))
        record_wait.start(record_wait_ms);
    else
        tell_outcome();
}

// The row that ended the unit's attempt gives the outcome; without one the unit was lost
// before an attempt began.
void Station::conclude_from_record(int status) {
    OutcomeEvent o = unrecorded("unit_lost", status, unit_serial);
    const std::optional<History::UpgradeRow> row = upgrade->take_outcome();
    if (row)
        take_row(o, *row);
    untold_row = row;
    conclude(o);
}

void Station::tell_outcome() {
    record_wait.stop();
    if (!untold)
        return;
    OutcomeEvent o = *untold;
    o.recorded = untold_row && upgrade->kept(*untold_row);
    untold.reset();
    untold_row.reset();
    report.outcome(o, who);
    last_told = o;
    emit outcome_told(who.port, o);
    if (worker_ended)
        emit finished(exit_status); // the stop's outcome, told last
    else if (turns == Turns::one)
        end(exit_status);
}

// The unit that was told has gone: a port's station ends with its outcome; with --repeat the
// next unit is waited for.
void Station::unit_left() {
    if (turns == Turns::until_left) {
        end(exit_status);
        return;
    }
    turn = Turn::waiting;
    download_ordered = false;
    unit_serial.clear();
    said = Explanation();
    upgrade->take_outcome(); // of the unit that left, told already or not the station's
    report.step(words("cli_waiting"), who);
    arm_deadline();
}

void Station::on_deadline() {
    if (turn == Turn::waiting) {
        report.message(words("cli_no_unit").arg(options.wait_seconds), who);
        conclude(unrecorded("no_unit", no_single_unit));
        return;
    }
    // The install's unit did not come back after its download.
    upgrade->give_up_unit();
    conclude_from_record(failed);
}

// A second signal only repeats what the first one said. A station stopped while the unit it
// has told of is still attached keeps that outcome's status; otherwise the status is 130.
void Station::stop() {
    if (worker()->transfer_report().running != SM_A::Transfer::none)
        std::fprintf(stderr, "%s\n", qPrintable(words("status_stopAfterTransfer")));
    if (stop_asked)
        return;
    stop_asked = true;
    end(turns != Turns::one && turn == Turn::told ? exit_status : stopped);
}

// Stops the machine and the worker between dfu-util runs; the end comes when the worker's
// thread has ended (a transfer under way ends first).
void Station::end(int status) {
    if (ending)
        return;
    if (untold)
        tell_outcome();
    ending = true;
    exit_status = status;
    deadline.stop();
    if (upgrade->stop(0))
        on_worker_ended();
}

// The upgrade has recorded what a stop left unfinished; the stop that is the outcome is told
// once the record has kept its row (or a moment has passed).
void Station::on_worker_ended() {
    if (worker_ended)
        return;
    worker_ended = true;
    if (!ending) { // the worker never ends by itself; should it, the station ends too
        ending = true;
        exit_status = failed;
    }
    if (stop_asked && exit_status == stopped)
        tell_stop();
    else
        emit finished(exit_status);
}

void Station::tell_stop() {
    const SM_A::Outcome last = worker()->transfer_report().last;
    OutcomeEvent o = unrecorded("stopped", stopped, unit_serial);
    const std::optional<History::UpgradeRow> row = upgrade->take_outcome();
    if (row) {
        take_row(o, *row);
        o.transfer = transfer_name(last);
    }
    o.words = words("cli_outcome").arg(o.outcome, QString::number(o.exit_status));
    untold = o;
    untold_row = row;
    if (row && !upgrade->kept(*row))
        record_wait.start(record_wait_ms);
    else
        tell_outcome();
}

} // namespace Cli
