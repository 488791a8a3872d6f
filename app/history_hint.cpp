#include "app/history_hint.h"

#include "app/explanation_words.h"
#include "app/globals.h"
#include "gui/main_window.h"
#include "workflow/sm_b.h"

#include <algorithm>

namespace {

QString filled(const QString& text, const QStringList& v) {
    switch (v.size()) {
    case 0:
        return text;
    case 1:
        return text.arg(v[0]);
    case 2:
        return text.arg(v[0], v[1]);
    default:
        return text.arg(v[0], v[1], v[2]);
    }
}

// The line has no room to wrap: the longest value is shortened until the text fits.
void fit_on_line(QLabel* line, HintNote note) {
    const QString frame = settings.gui.text(note.good_news ? QStringLiteral("status_note")
                                                           : QStringLiteral("status_hint"));
    for (;;) {
        line->setText(frame.arg(note_words(note).toHtmlEscaped()));
        auto longest = std::max_element(
            note.values.begin(), note.values.end(),
            [](const QString& a, const QString& b) { return a.size() < b.size(); });
        if (mainWindow->hintFits() || longest == note.values.end() || longest->size() <= 1)
            return;
        *longest = longest->left(longest->size() - 2) + QChar(0x2026);
    }
}

} // namespace

QString note_words(const HintNote& note) {
    return note.isEmpty() ? QString() : filled(settings.gui.text(note.id), note.values);
}

void show_hint_note(const HintNote& note) {
    QLabel* line = mainWindow ? mainWindow->hintLabel : nullptr;
    if (!line || !sm_B)
        return;
    const QString explained = explanation_words(sm_B->explanation, settings);
    const QString words = note_words(note);
    if (!explained.isEmpty()) {
        line->setToolTip(words.isEmpty() ? explained : explained + QLatin1Char('\n') + words);
        return;
    }
    line->setToolTip(words);
    if (words.isEmpty())
        line->clear();
    else
        fit_on_line(line, note);
}
