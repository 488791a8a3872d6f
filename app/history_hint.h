#pragma once
// What the record adds to the line under the status line: when a connected unit was last
// upgraded here, what to do after a verified upgrade, that the record is not being kept, or
// that a damaged record was moved aside. The workflow's own explanation goes first: while
// there is one, the note stands in the line's tooltip only, or after the explanation when it
// asks to be beside it.

#include <QString>
#include <QStringList>

class MainWindow;
namespace Settings {
struct GUI;
}

struct HintNote {
    QString id;                      // of its text in the settings; empty: no note
    QStringList values;              // the text's %1, %2, ... in order
    bool good_news = false;          // drawn in the calm colour of "status_note", not the warning's
    bool beside_explanation = false; // drawn after an explanation, not only into the tooltip

    bool isEmpty() const { return id.isEmpty(); }
};

// The note's text, its values filled in one pass.
QString note_words(const HintNote& note, const Settings::GUI& texts);

// Gives the note to the main window's hint line, which draws it with the explanation (see
// HintLine::note); an empty note leaves the line to the explanation. Values are shortened ("…")
// until the line fits.
void show_hint_note(const HintNote& note, const Settings::GUI& texts, MainWindow* window);
