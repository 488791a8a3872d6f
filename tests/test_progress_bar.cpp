// The progress bar: the time-driven fill (periods, values, exactly one finished() per full fill)
// and the transfer phase that follows dfu-util's percent.

#include "gui/progress_bar.h"

#include <QSignalSpy>
#include <QtTest>

class TestProgressBar : public QObject {
    Q_OBJECT
private slots:
    void fresh_bar();
    void periods_and_durations_data();
    void periods_and_durations();
    void value_follows_elapsed_time();
    void fill_runs_to_full_and_finishes_once();
    void restart_abandons_running_fill();
    void stopping_ends_without_finished();
    void a_phase_follows_the_percent_forward_and_never_to_full_data();
    void a_phase_follows_the_percent_forward_and_never_to_full();
    void a_phase_without_percent_fills_by_time_short_of_full();
};

void TestProgressBar::fresh_bar() {
    ProgressBar bar;
    QCOMPARE(bar.minimum(), 0);
    QCOMPARE(bar.maximum(), 100);
    QVERIFY(!bar.timer->isActive());
    // As the user sees it: the filled part green, the rest not.
    bar.resize(200, 30);
    bar.setValue(50);
    bar.setFormat(QString());
    const QImage image = bar.grab().toImage();
    QCOMPARE(image.pixelColor(25, 15), QColor(160, 240, 140));
    QVERIFY(image.pixelColor(175, 15) != QColor(160, 240, 140));
}

void TestProgressBar::periods_and_durations_data() {
    QTest::addColumn<double>("first");  // seconds, or NaN for no first start
    QTest::addColumn<double>("second"); // seconds; negative keeps the first
    QTest::addColumn<int>("duration_ms");
    QTest::addColumn<int>("period_ms");

    const double none = qQNaN();
    QTest::newRow("download: 60 s") << none << 60.0 << 60000 << 600;
    QTest::newRow("verification: 0.5 s at the floor") << none << 0.5 << 500 << 50;
    QTest::newRow("zero raised to 1 ms") << none << 0.0 << 1 << 50;
    QTest::newRow("truncated to whole ms") << none << 12.3459 << 12345 << 123;
    QTest::newRow("negative keeps previous") << 60.0 << -1.0 << 60000 << 600;
    QTest::newRow("negative on a fresh bar keeps 10 s") << none << -5.0 << 10000 << 100;
    QTest::newRow("second duration replaces first") << 60.0 << 0.5 << 500 << 50;
}

void TestProgressBar::periods_and_durations() {
    QFETCH(double, first);
    QFETCH(double, second);
    ProgressBar bar;
    if (!qIsNaN(first))
        bar.startAutoProgress(QStringLiteral("first"), first);
    bar.startAutoProgress(QStringLiteral("Upgrading firmware"), second);
    QTEST(bar.duration_ms, "duration_ms");
    QTEST(bar.timer->interval(), "period_ms");
    QCOMPARE(bar.steps, 100);
    QVERIFY(bar.timer->isActive());
    QVERIFY(!bar.timer->isSingleShot());
    QVERIFY(bar.elapsed.isValid());
    QCOMPARE(bar.format(), QStringLiteral("Upgrading firmware"));
    QVERIFY(bar.isVisible());
    bar.timer->stop();
}

void TestProgressBar::value_follows_elapsed_time() {
    ProgressBar bar;
    bar.setValue(40);
    bar.startAutoProgress(QStringLiteral("Upgrading firmware"), 10.0);
    QCOMPARE(bar.value(), 0);
    QSignalSpy finished(&bar, &ProgressBar::finished);
    QTest::qWait(150);
    bar.timer->stop(); // ticks by hand from here, so that the bounds are exact
    const qint64 before = bar.elapsed.elapsed();
    bar.increase();
    const qint64 after = bar.elapsed.elapsed();
    QVERIFY(before < bar.duration_ms);
    QVERIFY(bar.value() >= int(100 * before / bar.duration_ms));
    QVERIFY(bar.value() <= int(100 * after / bar.duration_ms));
    QCOMPARE(finished.count(), 0);

    // A 60 s fill restarted without duration keeps 60 s.
    bar.startAutoProgress(QStringLiteral("a"), 60.0);
    bar.startAutoProgress(QStringLiteral("b"));
    QCOMPARE(bar.duration_ms, 60000);
    QCOMPARE(bar.timer->interval(), 600);
    QCOMPARE(bar.format(), QStringLiteral("b"));
    bar.timer->stop();
}

void TestProgressBar::fill_runs_to_full_and_finishes_once() {
    ProgressBar bar;
    QSignalSpy finished(&bar, &ProgressBar::finished);
    QVector<int> values;
    connect(&bar, &QProgressBar::valueChanged, [&values](int v) { values << v; });

    bar.startAutoProgress(QStringLiteral("Uploading & verifying"), 0.3);
    QVERIFY(finished.wait(10000));
    QCOMPARE(bar.value(), 100);
    QVERIFY(!bar.timer->isActive());
    QVERIFY(bar.isVisible()); // hiding is the caller's business
    QVERIFY(bar.elapsed.elapsed() > bar.duration_ms);
    QVERIFY(!values.isEmpty());
    QCOMPARE(values.last(), 100);
    for (int i = 1; i < values.size(); ++i)
        QVERIFY2(values[i] >= values[i - 1], "the bar never runs backwards within a fill");
    QTest::qWait(200);
    QCOMPARE(finished.count(), 1);

    // The first tick of a 1 ms fill already completes it.
    bar.startAutoProgress(QStringLiteral("x"), 0.0005);
    QCOMPARE(bar.value(), 0);
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.count(), 2);
    QCOMPARE(bar.value(), 100);
}

void TestProgressBar::restart_abandons_running_fill() {
    ProgressBar bar;
    QSignalSpy finished(&bar, &ProgressBar::finished);
    // The first fill is long enough that a busy machine cannot complete it before the restart.
    bar.startAutoProgress(QStringLiteral("first"), 2.0);
    QTRY_VERIFY_WITH_TIMEOUT(bar.value() > 0, 10000);
    bar.startAutoProgress(QStringLiteral("second"), 0.4);
    QCOMPARE(bar.value(), 0);
    QVERIFY(finished.wait(10000));
    QCOMPARE(bar.format(), QStringLiteral("second"));
    QTest::qWait(2000); // past the end the first fill would have had
    QCOMPARE(finished.count(), 1);
}

void TestProgressBar::stopping_ends_without_finished() {
    ProgressBar bar;
    QSignalSpy finished(&bar, &ProgressBar::finished);
    bar.startAutoProgress(QStringLiteral("Uploading & verifying"), 0.1);
    bar.stop_at(bar.maximum(), QStringLiteral("Firmware is upgraded"));
    QTest::qWait(300);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(bar.value(), 100);
    QCOMPARE(bar.format(), QStringLiteral("Firmware is upgraded"));
}

void TestProgressBar::a_phase_follows_the_percent_forward_and_never_to_full_data() {
    QTest::addColumn<QVector<int>>("percents");
    QTest::addColumn<QVector<int>>("values"); // the bar after each
    QTest::newRow("dfu-util's updates")
        << QVector<int>{0, 4, 8, 52, 96, 100} << QVector<int>{0, 4, 8, 52, 96, 99};
    QTest::newRow("a lower percent does not take it back")
        << QVector<int>{50, 20, 60} << QVector<int>{50, 50, 60};
    QTest::newRow("out of range") << QVector<int>{-5, 150} << QVector<int>{0, 99};
}

void TestProgressBar::a_phase_follows_the_percent_forward_and_never_to_full() {
    QFETCH(QVector<int>, percents);
    QFETCH(QVector<int>, values);
    ProgressBar bar;
    bar.follow(30); // outside a phase: nothing
    QCOMPARE(bar.value(), -1);
    bar.start_phase(QStringLiteral("Upgrading firmware"), 60.0);
    QVERIFY(bar.timer->isActive());
    QVector<int> seen;
    for (int p : percents) {
        bar.follow(p);
        seen << bar.value();
    }
    QCOMPARE(seen, values);
    QVERIFY(!bar.timer->isActive()); // dfu-util's percent replaced the time-driven fill
    QCOMPARE(bar.format(), QStringLiteral("Upgrading firmware"));
    bar.stop_at(bar.maximum(), QStringLiteral("Firmware is upgraded"));
    bar.follow(10); // the phase is over
    QCOMPARE(bar.value(), 100);
}

void TestProgressBar::a_phase_without_percent_fills_by_time_short_of_full() {
    ProgressBar bar;
    QSignalSpy finished(&bar, &ProgressBar::finished);
    bar.start_phase(QStringLiteral("Uploading & verifying"), 0.2);
    QCOMPARE(bar.timer->interval(), 50);
    QVERIFY(finished.wait(10000));
    QCOMPARE(bar.value(), 99); // full is the outcome's
    bar.follow(50);            // a late percent below the time-driven value
    QCOMPARE(bar.value(), 99);
}

QTEST_MAIN(TestProgressBar)
#include "test_progress_bar.moc"
