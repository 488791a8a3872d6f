#pragma once
// What the command-line program tells its caller on standard output: for a person, one line
// per step and the window's explanations, with a progress line redrawn in place on a terminal;
// with --json, JSON Lines, one object per event, each with an "event" key. The log goes to
// standard error, never here.

#include "settings/texts.h"

#include <QJsonObject>
#include <QString>

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
    QString words;    // for a person
};

// An outcome that the record does not keep: its name, status and what is known of the unit.
OutcomeEvent unrecorded(const QString& outcome, int exit_status, const QString& serial = {},
                        const QString& revision = {});

class Report {
public:
    Report(bool json, const Settings::Texts& texts);

    // A step, for a person only.
    void step(const QString& words);
    void unit(const UnitEvent& unit);
    // `phase`: "download" or "read_back".
    void progress(const QString& phase, int percent);
    // The explanation's words (the window's texts, without their markup).
    void message(const QString& words);
    void outcome(const OutcomeEvent& outcome);
    // A row of the record (history --json).
    void row(const QJsonObject& fields);

private:
    void line(const QString& text);
    void event(const QString& name, QJsonObject fields);

    const bool json;
    const bool terminal; // standard output is a terminal: progress is redrawn in place
    const Settings::Texts& texts;
    bool progress_open = false; // a progress line without its newline stands last
};

// The window's rich text as plain text: tags dropped, entities of the settings file resolved,
// runs of white space made one space.
QString plain(const QString& rich);

} // namespace Cli
