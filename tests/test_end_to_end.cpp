// The whole program in simulator mode, started as the executable starts it (simulator and log
// window switches), with its real window offscreen: a user's upgrade and what can go wrong.

#include "app/log_message_handler.h"
#include "app/startup.h"
#include "files/files.h"
#include "gui/install_button.h"
#include "gui/log_window.h"
#include "gui/log_window_dialog.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"
#include "simulator/simulator.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"
#include "file_contents.h"
#include "signal_counter.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace Device::memory_map;

namespace {

// The program under test, as start-up made it.
std::unique_ptr<WindowProgram> owned_program;
WindowProgram* program = nullptr;

constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed
QString stderr_path;                // the whole run's standard error goes here
// Fast simulated transfers and a quick worker, given to start-up before it builds anything.
const StartupOptions fast{simulator::Setup::fast_progress, 50, 100};

QString status_text() { return program->mainWindow->statusLabel->text(); }
// The two lines as the user reads them.
QString plain(const QString& rich) { return QTextDocumentFragment::fromHtml(rich).toPlainText().trimmed(); }
QString status_line() { return plain(status_text()); }
QString hint_line() { return plain(program->mainWindow->hintLabel->text()); }
bool window_says(const QString& status, const QString& hint) {
    return status_line() == status && hint_line() == hint;
}
const QString no_unit_text = QStringLiteral("The USB cable must have a 'Type B' plug and a 'Type A' plug.");
bool in(QState* s) { return program->sm_B()->configuration().contains(s); }

QString stderr_text() {
    std::fflush(stderr);
    QFile f(stderr_path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

// The simulated unit's flash, read back with the simulator's own upload.
QByteArray simulated_flash(int size) {
    QTemporaryDir dir;
    const QString out = dir.filePath("flash.bin");
    QProcess p;
    p.start(simulator::dfu_util_path("dfu-util_simulator.sh"),
            {"--dfu-util-command", "upload_FW", "--fast-progress", "-d", "0483", "-a", "0", "-s",
             region_text(flash_base, size), "-U", out});
    p.waitForFinished(generous_ms);
    return read_all(out);
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    // QtTest installs its own message handler; put the program's back, as start-up left it.
    void init() {
        if (program->use_log_window && program->sm_B()->isRunning())
            qInstallMessageHandler(logWindowMessageHandler);
    }

    void starts_as_the_program_does() {
        QVERIFY(simulator::use);
        QVERIFY(program->use_log_window);
        QCOMPARE(program->mainWindow->windowTitle(), QString("Orvanta Firmware Upgrade Tool"));
        QVERIFY(program->mainWindow->isVisible());
        QCOMPARE(program->sm_A()->no_device_delay_ms, fast.no_device_delay_ms);
        QCOMPARE(program->sm_A()->connected_delay_ms, fast.connected_delay_ms);
        QVERIFY(!program->sm_A()->isRunning()); // starts only from the event loop
        const QString err = stderr_text();
        QVERIFY2(err.contains("Info: Will use simulator (i.e. option 'use_simulator). ("), qPrintable(err));
        QVERIFY2(err.contains("Result of execution test: status was ok and output: \"as expected\""),
                 qPrintable(err));
        QVERIFY(err.contains("Desired (embedded) FW info:\n  Type: ProductInfo: VELK (3)"));
        // The log window received what went to standard error.
        QVERIFY(logWindow->dialog()->view()->toPlainText().contains("Will use simulator"));
        for (const char* name : {"firmware.dfu", "firmware.bin", "dfu-util", "libusb-1.0.0.dylib"})
            QVERIFY(QFile::exists(Files::path_of(QString::fromLatin1(name))));
    }

    void upgrade_from_the_window() {
        QCOMPARE(simulator::sim_setup_prepared_config("older_revision"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(status_text().contains("Connected to a Lumo-7 with firmware version B7"),
                                 generous_ms);
        QVERIFY(program->mainWindow->installButton->isEnabled());
        QVERIFY(!program->mainWindow->progressBar->isVisible());

        QString verifying_caption;
        QSignalSpy connected(program->sm_B(), &SM_B::sig_DeviceConnected);
        const auto hook = connect(program->sm_B(), &SM_B::sig_UploadingVerifying, this,
                                  [&] { verifying_caption = program->mainWindow->progressBar->format(); });
        QTest::mouseClick(program->mainWindow->installButton, Qt::LeftButton);
        // The bar starts once the machine has taken the click (B3).
        QTRY_COMPARE(program->mainWindow->progressBar->format(), QString("Upgrading firmware"));
        QVERIFY(program->mainWindow->progressBar->isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B6), generous_ms);
        disconnect(hook);
        QCOMPARE(connected.count(), 1); // the unit was read again after the download
        QCOMPARE(verifying_caption, QString("Uploading & verifying"));
        ProgressBar* bar = program->mainWindow->progressBar;
        QCOMPARE(bar->format(), QString("Firmware is upgraded"));
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(bar->isVisible());
        QVERIFY(status_text().contains("Connected to a Lumo-7 with firmware version B8"));
        QVERIFY(simulated_flash(400308) == read_all(":resources/firmware.bin"));
    }

    // What the window says of each unit side it may meet, read as the user reads it.
    void every_situation_reads_in_the_window_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("hint");
        const QString only_lumo7 = QStringLiteral(
            "This unit carries no valid product record: this program upgrades only Lumo-7 SyncX units.");
        QTest::newRow("empty bus") << "no_unit" << no_unit_text << QString();
        QTest::newRow("two units") << "two_units" << no_unit_text
                                   << "More than one unit is attached: connect only one unit.";
        QTest::newRow("blank OTP") << "blank_otp" << no_unit_text << only_lumo7;
        QTest::newRow("unknown product") << "unknown_product" << no_unit_text << only_lumo7;
        QTest::newRow("no access")
            << "no_access" << no_unit_text
            << "This user may not open the unit: install the USB rule (see README) and reconnect the unit.";
        QTest::newRow("unit busy")
            << "unit_busy" << no_unit_text
            << "Another program is using the unit: close the other program that uses it.";
    }
    void every_situation_reads_in_the_window() {
        QFETCH(QString, config);
        QFETCH(QString, status);
        QFETCH(QString, hint);
        // From an empty bus each time, so that every row waits for its own unit.
        QCOMPARE(simulator::sim_setup_prepared_config("no_unit"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window_says(no_unit_text, QString()), generous_ms);
        QCOMPARE(simulator::sim_setup_prepared_config(config), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window_says(status, hint), generous_ms);
        QVERIFY(in(program->sm_B()->B1));
        QVERIFY(program->mainWindow->hintLabel->isVisible());
        QVERIFY(program->mainWindow->hintFits());
        QVERIFY(!program->mainWindow->installButton->isEnabled());
    }

    // Read once while it stays attached: its log line is not repeated on every poll.
    void a_unit_without_record_is_logged_once() {
        const QString logged = QStringLiteral("Unknown device type according to OTP info, ");
        const int before = stderr_text().count(logged);
        QCOMPARE(simulator::sim_setup_prepared_config("no_unit"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window_says(no_unit_text, QString()), generous_ms);
        QCOMPARE(simulator::sim_setup_prepared_config("unknown_product"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(hint_line().startsWith("This unit carries no valid product record"),
                                 generous_ms);
        SignalCounter scans(program->sm_A(), &SM_A::sig_scanning);
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 10, generous_ms);
        QCOMPARE(stderr_text().count(logged), before + 1);
    }

    void another_product_is_refused() {
        QCOMPARE(simulator::sim_setup_prepared_config("other_product"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B8), generous_ms);
        QVERIFY(status_text().contains("Connected to a K5."));
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(),
                                  QString("This unit cannot be upgraded here: this program "
                                          "upgrades only Lumo-7 SyncX units."),
                                  generous_ms);
        QVERIFY(!program->mainWindow->installButton->isEnabled());
        QVERIFY(!program->mainWindow->progressBar->isVisible());
    }

    void differing_firmware_offers_the_install_again() {
        QCOMPARE(simulator::sim_setup_prepared_config("desired_revision_differs"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B7), generous_ms);
        QVERIFY(program->mainWindow->installButton->isEnabled());
        QVERIFY(!program->mainWindow->progressBar->isVisible());
        QCOMPARE(program->mainWindow->progressBar->format(), QString("FW differs"));
        QVERIFY(status_text().contains("Connected to a Lumo-7 with firmware version B8"));
        QCOMPARE(hint_line(), QString("The firmware read back differs from revision B8: installing "
                                      "it again is offered."));
    }

    void failed_download_keeps_the_old_firmware_and_offers_it_again() {
        QCOMPARE(simulator::sim_setup_prepared_config("download_fails"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B2) && program->mainWindow->installButton->isEnabled(), generous_ms);
        QSignalSpy impossible(program->sm_B(), &SM_B::sig_UpgradeImpossible);
        QSignalSpy possible(program->sm_B(), &SM_B::sig_UpgradePossible);
        QTest::mouseClick(program->mainWindow->installButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(impossible.count() == 1 && possible.count() == 1 && in(program->sm_B()->B2),
                                 generous_ms);
        QVERIFY(status_text().contains("Connected to a Lumo-7 with firmware version B7"));
        QVERIFY(program->mainWindow->installButton->isEnabled());
        QVERIFY(stderr_text().contains("Exit with 74"));
        // dfu-util's own words are shortened to fit the line; the whole text is its tooltip.
        QTRY_VERIFY_WITH_TIMEOUT(hint_line().startsWith("The last upgrade did not complete (dfu-util said: "),
                                 generous_ms);
        QVERIFY(hint_line().endsWith("): reconnect the unit and click install again."));
        QVERIFY(program->mainWindow->hintFits());
        QCOMPARE(program->mainWindow->hintLabel->toolTip(),
                 QString("The last upgrade did not complete (dfu-util said: Wrong state after command "
                         "\"ERASE_PAGE\" download): reconnect the unit and click install again."));
    }

    // Unplugged at 40 %: back with part of the new image, it is verified, differs, and the
    // window says why, until an install makes it good.
    void a_unit_lost_during_the_download_is_explained_until_made_good() {
        QCOMPARE(simulator::sim_setup_prepared_config("lost_during_download"), 0);
        // The unit before had a failed download of its own: this one is read when that is gone.
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B2) && program->mainWindow->installButton->isEnabled() &&
                                     hint_line().isEmpty(),
                                 generous_ms);
        QTest::mouseClick(program->mainWindow->installButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B7), generous_ms);
        QCOMPARE(status_line(), QString("Connected to a Lumo-7 with firmware version B8"));
        QCOMPARE(hint_line(), QString("The last upgrade did not complete (the unit was disconnected) "
                                      "and the firmware differs from B8: install it again."));
        QTest::mouseClick(program->mainWindow->installButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B6), generous_ms);
        // Made good: the upgrade is recorded (by the recorder's thread, a moment later), and
        // the unit may go.
        QTRY_VERIFY2_WITH_TIMEOUT(
            window_says("Connected to a Lumo-7 with firmware version B8",
                        program->settings.gui.text("history_upgraded_recorded").arg("B8")),
            qPrintable(hint_line()), generous_ms);
    }

    void firmware_of_another_product_shows_an_unknown_revision() {
        QCOMPARE(simulator::sim_setup_prepared_config("foreign_firmware"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(status_text().contains("Connected to a Lumo-7 with unknown firmware version."),
                                 generous_ms);
        QVERIFY(in(program->sm_B()->B2));
        QVERIFY(program->sm_B()->device_info.FW_revision.isEmpty());
        QVERIFY(program->mainWindow->installButton->isEnabled());
    }

    void ctrl_l_toggles_the_log_window_from_either_window() {
        LogWindowDialog* dialog = logWindow->dialog();
        QVERIFY(!dialog->isVisible());
        program->mainWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(program->mainWindow));
        QTest::keyClick(program->mainWindow, Qt::Key_L, Qt::ControlModifier);
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(dialog->pos().y(), program->mainWindow->geometry().top());
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QTest::keyClick(dialog, Qt::Key_L, Qt::ControlModifier);
        QTRY_VERIFY(!dialog->isVisible());
    }

    void escape_stops_the_workflow() {
        QTest::keyClick(program->mainWindow, Qt::Key_Escape);
        QVERIFY(!program->sm_A()->isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!program->sm_B()->isRunning(), generous_ms);
        const QString err = stderr_text();
        QVERIFY2(err.contains("Msg-handler reset"), qPrintable(err.right(2000)));
        QVERIFY2(err.contains("Trying to stop sm_A"), qPrintable(err.right(2000)));
        // From here on messages take Qt's default path, not the log window.
        const QString view = logWindow->dialog()->view()->toPlainText();
        qInfo() << "after the stop";
        QCOMPARE(logWindow->dialog()->view()->toPlainText(), view);
        QVERIFY(program->mainWindow->isVisible());
    }
};

int main(int argc, char** argv) {
    QTemporaryDir state; // the simulated units of this run only
    qputenv("ORVANTA_SIMULATOR_STATE_DIR", QFile::encodeName(state.path()));
    QTemporaryDir data; // and the upgrade record: no unit is known from an earlier run
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QTemporaryDir err_dir;
    stderr_path = err_dir.filePath("stderr.txt");
    const int saved_stderr = ::dup(2);
    if (!std::freopen(QFile::encodeName(stderr_path).constData(), "w", stderr))
        return 2;

    // As the program starts with "-s -l".
    int app_argc = 3;
    char sim[] = "-s";
    char log[] = "-l";
    char* app_argv[] = {argv[0], sim, log, nullptr};
    QApplication app(app_argc, app_argv);
    owned_program = GUI_init(fast);
    program = owned_program.get();
    if (!program->use_log_window) // the test runs the program's own message path
        return 3;

    TestEndToEnd test;
    const int result = QTest::qExec(&test, argc, argv);
    GUI_cleanup(*program, 0);
    owned_program.reset();

    // Show what the program wrote when something failed.
    std::fflush(stderr);
    ::dup2(saved_stderr, 2);
    if (result != 0) {
        QFile f(stderr_path);
        if (f.open(QIODevice::ReadOnly))
            std::fputs(f.readAll().right(20000).constData(), stderr);
    }
    return result;
}

#include "test_end_to_end.moc"
