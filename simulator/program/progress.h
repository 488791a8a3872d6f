#pragma once
// dfu-util 0.9's progress bar: after a carriage return, the label, a tab, 25 marks in brackets
// ('=' done, ' ' to go), the percent right-aligned in 3, "% ", the bytes right-aligned in 12
// and " bytes"; redrawn whenever a mark is added, and followed by a line feed and
// "<label> done." once full. The simulated transfer's time is spread evenly over the marks.

#include <QString>
#include <QtGlobal>

namespace simulator {

class Progress {
public:
    static constexpr int width = 25;

    // `duration_ms`: how long the whole bar takes, from its first mark to its last.
    Progress(QString label, qint64 duration_ms);
    // dfu-util's rules: a total below the current count is unknown, nothing of nothing is 0 %.
    void update(qint64 current, qint64 total);

private:
    QString label_;
    qint64 mark_ms_;
    int marks_ = -1; // drawn so far; -1: nothing drawn yet
};

} // namespace simulator
