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

void ProgressBar::start_phase(const QString& format, double seconds) {
    startAutoProgress(format, seconds);
    in_phase_ = true;
}

void ProgressBar::follow(int percent) {
    if (!in_phase_)
        return;
    timer->stop(); // dfu-util tells from now on
    const int target = minimum() + (maximum() - minimum()) * qBound(0, percent, 100) / 100;
    setValue(qMax(value(), qMin(target, top())));
}

void ProgressBar::stop_at(int value, const QString& format) {
    in_phase_ = false;
    timer->stop();
    setFormat(format); // first: the value belongs to this caption
    setValue(value);
}

void ProgressBar::startAutoProgress(QString format, double duration) {
    in_phase_ = false;
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
    setValue(qMin(top(), minimum() + qMin(steps, static_cast<int>(steps * fraction))));
    if (elapsed.elapsed() > duration_ms) {
        timer->stop();
        setValue(top());
        emit finished();
    }
}
