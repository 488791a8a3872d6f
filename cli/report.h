#pragma once
// What the command-line program tells its caller on standard output: for a person, one line
// per step and the window's explanations, with a progress line redrawn in place on a terminal;
// with --json, JSON Lines, one object per event, each with an "event" key. The log goes to
// standard error, never here. With several units, each event of a unit carries its port (and
// its serial once known); for a person each line begins with the port, and on a terminal the
// board shows one line per port, redrawn in place.

#include "cli/board.h"
#include "settings/texts.h"

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Cli {

// A unit as identified: its OTP record and firmware information block.
struct UnitEvent {
    QString serial;
    QString product;
    QString revision; // empty: unknown
    QString carried_revision;
};

// How a unit's turn ended. `outcome` is the record's outcome name where the record has one.
struct OutcomeEvent {
    QString outcome;
    int exit_status = 0;
    QString serial;
    QString revision_before;
    QString revision_after;
    QString cause;
    bool recorded = false;
    QString transfer; // after a stop: how the transfer under way ended ("written", ...)
    std::optional<double> duration_s; // of a recorded attempt, from its start to its outcome
    QString words;    // for a person
};

// The count of each outcome over several units, the ports of each, and the exit status.
struct SummaryEvent {
    QMap<QString, QStringList> ports; // outcome name → ports, in port order
    int exit_status = 0;
};

// An outcome that the record does not keep: its name, status and what is known of the unit.
OutcomeEvent unrecorded(const QString& outcome, int exit_status, const QString& serial = {},
                        const QString& revision = {});

class Report {
public:
    Report(bool json, const Settings::Texts& texts);
    // Several units: events carry their unit's port; on a terminal, the board is drawn.
    void serve_ports();

    // A step, for a person only.
    void step(const QString& words, const Who& who = {});
    void unit(const UnitEvent& unit, const Who& who = {});
    // `phase`: "download" or "read_back".
    void progress(const QString& phase, int percent, const Who& who = {});
    // The explanation's words (the window's texts, without their markup).
    void message(const QString& words, const Who& who = {});
    void outcome(const OutcomeEvent& outcome, const Who& who = {});
    void summary(const SummaryEvent& summary);
    // A row of the record (history --json).
    void row(const QJsonObject& fields);

private:
    void line(const QString& text, const Who& who = {});
    void event(const QString& name, QJsonObject fields, const Who& who = {});
    bool on_board(const Who& who) const { return board && !who.port.isEmpty(); }

    const bool json;
    const bool terminal; // standard output is a terminal: progress is redrawn in place
    const Settings::Texts& texts;
    bool progress_open = false;   // a progress line without its newline stands last
    std::unique_ptr<Board> board; // a person's terminal, several units
};

// The window's rich text as plain text: tags dropped, entities of the settings file resolved,
// runs of white space made one space.
QString plain(const QString& rich);

} // namespace Cli
