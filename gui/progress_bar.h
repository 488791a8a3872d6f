#pragma once
// A progress bar that fills itself linearly over an expected duration, and within a transfer
// phase follows the percent that dfu-util prints once it prints one.

#include <QElapsedTimer>
#include <QProgressBar>
#include <QString>
#include <QTimer>

class ProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    // Range 0 to 100 and the style sheet.
    void setup_GUI();

    int steps = 1;            // value units between minimum and maximum, set at each start
    int min_interval_ms = 50; // shortest timer period
    QTimer* timer = nullptr;  // drives the time-driven fill
    QElapsedTimer elapsed;    // invalid until the first start
    int duration_ms = 10000;  // the expected duration of one fill

    // One transfer phase (download or read-back) with this caption: the time-driven fill of
    // startAutoProgress over `seconds` until follow() brings dfu-util's own percent, which the
    // bar shows from then on. Within the phase the bar never goes back and never stands full:
    // full belongs to the outcome (stop_at).
    void start_phase(const QString& format, double seconds);
    // dfu-util's percent (0 to 100) of the transfer under way; ignored outside a phase.
    void follow(int percent);
    // Ends any fill at once, without finished(), at this value with this caption.
    void stop_at(int value, const QString& format);

signals:
    // Once per fill that ran its full duration.
    void finished();

public slots:
    // Restarts the fill with this caption; a negative duration (seconds) keeps the previous one.
    void startAutoProgress(QString format, double duration = -1);
    void startAutoProgress();
    void increase();

private:
    int top() const { return in_phase_ ? qMax(minimum(), maximum() - 1) : maximum(); }
    bool in_phase_ = false;
};
