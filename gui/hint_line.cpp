#include "gui/hint_line.h"

namespace {

QString words_of(const HintLine::Part& part) {
    return part.words ? part.words(part.values) : QString();
}

// The parts' frames with their words, one after the other.
QString drawn_text(const std::vector<HintLine::Part>& parts) {
    QStringList drawn;
    for (const HintLine::Part& part : parts)
        drawn << part.frame.arg(words_of(part).toHtmlEscaped());
    return drawn.join(QLatin1Char(' '));
}

// The first of the longest values of all parts; null when there are none.
QString* longest_value(std::vector<HintLine::Part>& parts) {
    QString* longest = nullptr;
    for (HintLine::Part& part : parts)
        for (QString& value : part.values)
            if (!longest || value.size() > longest->size())
                longest = &value;
    return longest;
}

} // namespace

HintLine::HintLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::RichText);
}

void HintLine::explain(const Part& explanation) {
    explanation_ = explanation;
    redraw();
}

void HintLine::note(const Part& note) {
    note_ = note;
    redraw();
}

bool HintLine::fits() const {
    return sizeHint().width() <= width();
}

void HintLine::redraw() {
    const QString explained = words_of(explanation_);
    const QString noted = words_of(note_);
    QStringList whole;
    std::vector<Part> drawn;
    if (!explained.isEmpty()) {
        whole << explained;
        drawn.push_back(explanation_);
    }
    if (!noted.isEmpty()) {
        whole << noted;
        if (explained.isEmpty() || note_.beside_explanation)
            drawn.push_back(note_);
    }
    setToolTip(whole.join(QLatin1Char('\n')));
    draw_fitted(std::move(drawn));
}

// The parts are copies: their shortened values are this drawing's only.
void HintLine::draw_fitted(std::vector<Part> parts) {
    for (;;) {
        setText(drawn_text(parts));
        QString* longest = longest_value(parts);
        if (fits() || !longest || longest->size() <= 1)
            return;
        *longest = longest->left(longest->size() - 2) + QChar(0x2026);
    }
}
