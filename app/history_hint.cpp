#include "app/history_hint.h"

#include "gui/hint_line.h"
#include "gui/main_window.h"

namespace {

QString filled(const QString& text, const QStringList& v) {
    switch (v.size()) {
    case 0:
        return text;
    case 1:
        return text.arg(v[0]);
    case 2:
        return text.arg(v[0], v[1]);
    case 3:
        return text.arg(v[0], v[1], v[2]);
    default:
        return text.arg(v[0], v[1], v[2], v[3]);
    }
}

} // namespace

QString note_words(const HintNote& note, const Settings::GUI& texts) {
    return note.isEmpty() ? QString() : filled(texts.text(note.id), note.values);
}

void show_hint_note(const HintNote& note, const Settings::GUI& texts, MainWindow* window) {
    if (!window || !window->hintLabel)
        return;
    HintLine::Part part; // without words: no note
    if (!note.isEmpty()) {
        const QString id = note.id;
        part.words = [id, &texts](const QStringList& values) {
            return note_words({id, values}, texts);
        };
        part.values = note.values;
        part.frame = texts.text(note.good_news ? QStringLiteral("status_note")
                                               : QStringLiteral("status_hint"));
        part.beside_explanation = note.beside_explanation;
    }
    window->hintLabel->note(part);
}
