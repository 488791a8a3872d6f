#include "gui/progress_bar.h"

#include <QtGlobal>

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    timer = new QTimer(this);
    setup_GUI();
    connect(timer, &QTimer::timeout, this, &ProgressBar::increase);
}

void ProgressBar::setup_GUI() {
    setRange(0, 100);
    setStyleSheet(QStringLiteral("\n"
                                 "QProgressBar {\n"
                                 "    border: 2px solid grey;\n"
                                 "    border-radius: 5px;\n"
                                 "    text-align: center;\n"
                                 "}\n"
                                 "\n"
                                 "QProgressBar::chunk {\n"
                                 "    background-color: rgba(160,240,140,100%);\n"
                                 "    width: 5px;\n"
                                 "}\n"));
}

void ProgressBar::startAutoProgress(QString format, double duration) {
    timer->stop();
    setValue(minimum());
    setFormat(format);
    if (duration >= 0)
        duration_ms = qMax(1, static_cast<int>(duration * 1000));
    startAutoProgress();
}

void ProgressBar::startAutoProgress() {
    steps = maximum() > minimum() ? maximum() - minimum() : 1;
    const int period = qMax(min_interval_ms, duration_ms / steps);
    setValue(minimum());
    timer->setInterval(period);
    timer->start();
    elapsed.start();
    show();
}

void ProgressBar::increase() {
    const double fraction = static_cast<double>(elapsed.elapsed()) / duration_ms;
    // Clamped: a late tick must not ask for a value outside the range, which the bar ignores.
    setValue(minimum() + qMin(steps, static_cast<int>(steps * fraction)));
    if (elapsed.elapsed() > duration_ms) {
        timer->stop();
        setValue(maximum());
        emit finished();
    }
}
