// The window and the workflow wired together as start-up wires them, against the fake dfu-util:
// the bar follows the transfer's own progress, and a stop (Escape, Q) while a transfer runs lets
// it finish and says so.

#include "app/log_message_handler.h"
#include "app/wiring.h"
#include "dfu/runner.h"
#include "fake_dfu_util.h"
#include "gui/install_button.h"
#include "gui/log_window.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"
#include "message_log.h"
#include "signal_counter.h"
#include "wired_program.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>

namespace {

using namespace wired;

QString status_text() {
    return wired::main_window()->statusLabel->text();
}

} // namespace

class TestWiring : public QObject {
    Q_OBJECT

private slots:
    void init() { DFU::runner::reset_give_up(); }

    void the_bar_follows_the_transfer() {
        FakeDfuUtil fake;
        attach(fake, FakeDfuUtil::flash_image({3}, "B7"));
        fake.set_download_seconds(3); // against the bar's 60 s for a download
        fake.set_upload_seconds(3);   // against its 0.5 s for the read-back
        WiredProgram program;
        ProgressBar* bar = wired::main_window()->progressBar;
        QMap<QString, QVector<int>> shown; // caption: the values the visible bar took
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int v) {
            if (bar->isVisible())
                shown[bar->format()] << v;
        });
        QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B2) && wired::main_window()->installButton->isEnabled(),
                                 generous_ms);
        QTest::mouseClick(wired::main_window()->installButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B6), generous_ms);

        QVERIFY2(shown.keys() == QStringList({"Firmware is upgraded", "Upgrading firmware",
                                              "Uploading & verifying"}),
                 qPrintable(shown.keys().join('|')));
        for (const QString phase : {"Upgrading firmware", "Uploading & verifying"}) {
            const QVector<int>& values = shown[phase];
            for (int i = 1; i < values.size(); ++i)
                QVERIFY2(values[i] >= values[i - 1], qPrintable(phase + ": the bar went back"));
            QVERIFY2(*std::max_element(values.begin(), values.end()) < bar->maximum(),
                     qPrintable(phase + ": full before the outcome"));
        }
        // The download's bar moved with the fake's updates (one per 4 %), which the 60 s
        // time-driven fill could not have done in the 3 s the download took.
        const QVector<int>& download = shown["Upgrading firmware"];
        QCOMPARE(download.last(), bar->maximum() - 1);
        QVERIFY2(QSet<int>(download.begin(), download.end()).size() >= 20,
                 qPrintable(QString::number(download.size())));
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(bar->format(), QString("Firmware is upgraded"));
    }

    void a_stop_lets_the_running_transfer_finish_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("download");
        QTest::newRow("Escape during a download") << int(Qt::Key_Escape) << true;
        QTest::newRow("Q during a download") << int(Qt::Key_Q) << true;
        QTest::newRow("Escape during a read-back") << int(Qt::Key_Escape) << false;
        QTest::newRow("Q during a read-back") << int(Qt::Key_Q) << false;
    }
    void a_stop_lets_the_running_transfer_finish() {
        QFETCH(int, key);
        QFETCH(bool, download);
        FakeDfuUtil fake;
        attach(fake,
               download ? FakeDfuUtil::flash_image({3}, "B7") : FakeDfuUtil::desired_firmware());
        // Several seconds: the GUI thread's wait at the stop (at most 1 s) ends long before.
        fake.set_download_seconds(5);
        fake.set_upload_seconds(5);
        WiredProgram program;
        SignalCounter downloaded(wired::sm_A(), &SM_A::sig_FwDownloaded);
        SignalCounter matched(wired::sm_A(), &SM_A::sig_FwUploadedMatches);
        const SM_A::Transfer transfer =
            download ? SM_A::Transfer::download : SM_A::Transfer::read_back;
        if (download) {
            QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B2) && wired::main_window()->installButton->isEnabled(),
                                     generous_ms);
            QTest::mouseClick(wired::main_window()->installButton, Qt::LeftButton);
        }
        QTRY_VERIFY_WITH_TIMEOUT(wired::sm_A()->transfer_report().running == transfer, generous_ms);

        // The GUI thread's timer ticks while the worker finishes its transfer after the stop.
        std::atomic<int> ticks{0};
        std::atomic<int> ticks_when_worker_ended{-1};
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        QObject::connect(
            wired::sm_A(), &QThread::finished, wired::sm_A(), [&] { ticks_when_worker_ended = int(ticks); },
            Qt::DirectConnection);

        QTest::keyClick(wired::main_window(), Qt::Key(key));
        // The stop returned while the transfer still runs: it neither waited for it nor cut it.
        QVERIFY(wired::sm_A()->isRunning());
        QCOMPARE(wired::sm_A()->transfer_report().running, transfer);
        QCOMPARE(status_text(), text("status_stopAfterTransfer"));
        timer.start(10);
        MessageLog log; // the stop put Qt's default handler back: recorded from here on

        QTRY_VERIFY_WITH_TIMEOUT(wired::sm_A()->isFinished(), generous_ms);
        QVERIFY2(ticks_when_worker_ended > 0,
                 "the GUI thread handled no events during the transfer");
        QVERIFY(!wired::sm_B()->isRunning());
        QCOMPARE(log.count("Giving up"), 0);
        const int runs = fake.recorded_runs().size();
        if (download) {
            QCOMPARE(downloaded.count(), 1);
            QVERIFY(fake.flash(serial) == FakeDfuUtil::desired_firmware()); // the whole image
            QCOMPARE(wired::sm_A()->transfer_report().last, SM_A::Outcome::written);
            QTRY_COMPARE_WITH_TIMEOUT(status_text(), text("status_stoppedWritten"), generous_ms);
            QVERIFY(!wired::main_window()->progressBar->isVisible());
        } else {
            QCOMPARE(matched.count(), 1);
            QCOMPARE(wired::sm_A()->transfer_report().last, SM_A::Outcome::matches);
            QTRY_COMPARE_WITH_TIMEOUT(status_text(), text("status_stoppedVerified"), generous_ms);
            ProgressBar* bar = wired::main_window()->progressBar;
            QCOMPARE(bar->format(), QString("Firmware is upgraded"));
            QCOMPARE(bar->value(), bar->maximum());
        }
        QVERIFY(wired::main_window()->isVisible());            // the window stays open until it is closed
        QCOMPARE(fake.recorded_runs().size(), runs); // nothing ran after the transfer
    }
};

QTEST_MAIN(TestWiring)
#include "test_wiring.moc"
