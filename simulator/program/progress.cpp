#include "simulator/program/progress.h"

#include "simulator/program/output.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace simulator {

Progress::Progress(QString label, qint64 duration_ms)
    : label_(std::move(label)), mark_ms_(duration_ms / width) {}

void Progress::update(qint64 current, qint64 total) {
    if (total < current)
        total = current + 1;
    if (total == 0 && current == 0)
        total = 1;
    const int marks = static_cast<int>(std::min<qint64>(width, width * current / total));
    if (marks == marks_)
        return;
    if (marks_ >= 0 && marks > marks_ && mark_ms_ > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(mark_ms_ * (marks - marks_)));
    marks_ = marks;
    const QString bar = QString(marks, QLatin1Char('=')) + QString(width - marks, QLatin1Char(' '));
    out(QStringLiteral("\r%1\t[%2] %3% %4 bytes")
            .arg(label_, bar)
            .arg(100 * current / total, 3)
            .arg(current, 12));
    if (marks == width)
        out(QStringLiteral("\n%1 done.\n").arg(label_));
}

} // namespace simulator
