#pragma once
// A progress bar that fills itself linearly over an expected duration: the program cannot know
// how far dfu-util has come, only how long it usually takes.

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
    QTimer* timer = nullptr;  // stopped directly by the wiring to end a fill without finished()
    QElapsedTimer elapsed;    // invalid until the first start
    int duration_ms = 10000;  // the expected duration of one fill

signals:
    // Once per fill that ran its full duration.
    void finished();

public slots:
    // Restarts the fill with this caption; a negative duration (seconds) keeps the previous one.
    void startAutoProgress(QString format, double duration = -1);
    void startAutoProgress();
    void increase();
};
