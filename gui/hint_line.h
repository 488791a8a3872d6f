#pragma once
// The line under the status line: the workflow's explanation and the record's note, in one
// line with no room to wrap. Their values (paths, dfu-util's words) may be of any length: the
// longest value drawn is shortened ("…") until the line fits; the tooltip keeps the whole words.
// It knows no settings: callers give it words and frames.

#include <QLabel>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class HintLine : public QLabel {
    Q_OBJECT
public:
    // A text made of values that may be shortened. Without words (or with empty words) there is
    // nothing to show.
    struct Part {
        std::function<QString(const QStringList&)> words; // plain text of these values
        QStringList values;
        QString frame;                   // rich text around the escaped words, at %1
        bool beside_explanation = false; // a note: drawn after the explanation, not only tipped
    };

    explicit HintLine(QWidget* parent = nullptr);

    // The workflow's explanation: drawn whenever there is one.
    void explain(const Part& explanation);
    // The record's note: drawn when there is no explanation, after it when beside_explanation;
    // in the tooltip always.
    void note(const Part& note);

    // Whether the text fits the line's width.
    bool fits() const;

private:
    void redraw();
    void draw_fitted(std::vector<Part> parts);

    Part explanation_;
    Part note_;
};
