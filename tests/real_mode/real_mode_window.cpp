// The window's program in real mode, started in this process as the executable starts it (its
// window offscreen), running its embedded dfu-util 0.9 and libusb against virtual units that the
// test plugs in and pulls out: what a technician at the bench sees, and what the unit's flash
// holds afterwards.

#include "app/startup.h"
#include "fake_dfu_util.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "gui/progress_bar.h"
#include "testbed.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QtTest>

#include <memory>

using namespace Device::memory_map;

namespace {

// The program under test, as start-up made it.
std::unique_ptr<WindowProgram> owned_program;
WindowProgram* program = nullptr;

constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed
// A quick worker, given to start-up before it builds anything.
const StartupOptions quick{simulator::Setup::normal, 50, 100};

QString plain(const QString& rich) {
    return QTextDocumentFragment::fromHtml(rich).toPlainText().trimmed();
}
QString status_line() {
    return plain(program->mainWindow->statusLabel->text());
}
QString hint_line() {
    return plain(program->mainWindow->hintLabel->text());
}
bool in(QState* state) {
    return program->sm_B()->configuration().contains(state);
}
QString connected_with(const QString& revision) {
    return QStringLiteral("Connected to a Lumo-7 with firmware version ") + revision;
}
const QString no_unit =
    QStringLiteral("The USB cable must have a 'Type B' plug and a 'Type A' plug.");

QByteArray carried_in_flash() {
    const QByteArray image = FakeDfuUtil::desired_firmware();
    return image + QByteArray(static_cast<int>(flash_size) - image.size(), '\xFF');
}

virtual_unit::Unit& plug_lumo7(virtual_unit::Testbed& bed, const QString& port,
                               const QString& serial, const QByteArray& flash) {
    virtual_unit::Unit& unit = bed.plug(port, serial);
    unit.set_memory(otp_alt, FakeDfuUtil::otp_image({Device::VELK}));
    unit.set_memory(flash_alt, flash);
    return unit;
}

QByteArray lumo7_b7() {
    return FakeDfuUtil::flash_image({Device::VELK}, "B7", 32768);
}

} // namespace

class RealModeWindow : public QObject {
    Q_OBJECT

    virtual_unit::Testbed& bed_;

    // The bench is cleared and the window waits for a unit again, with nothing left to explain,
    // so that the next test sees only what its own units make the window say.
    void clear_bench(const QStringList& ports) {
        for (const QString& port : ports)
            bed_.unplug(port);
        QTRY_COMPARE_WITH_TIMEOUT(status_line(), no_unit, generous_ms);
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(), QString(), generous_ms);
    }

public:
    explicit RealModeWindow(virtual_unit::Testbed& bed) : bed_(bed) {}

private slots:
    void upgrade_from_the_window() {
        virtual_unit::Unit& unit = plug_lumo7(bed_, "1-1", "3776367B3036", lumo7_b7());
        QTRY_COMPARE_WITH_TIMEOUT(status_line(), connected_with("B7"), generous_ms);
        QVERIFY(program->mainWindow->installButton->isEnabled());
        QTest::mouseClick(program->mainWindow->installButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B6), generous_ms);
        QCOMPARE(program->mainWindow->progressBar->format(), QString("Firmware is upgraded"));
        QCOMPARE(status_line(), connected_with(program->settings.desired_revision));
        QVERIFY(unit.memory(flash_alt) == carried_in_flash());
        QCOMPARE(unit.tally().early_polls, 0);
        clear_bench({"1-1"});
    }

    void the_carried_revision_is_verified_and_left() {
        virtual_unit::Unit& unit = plug_lumo7(bed_, "1-1", "3776367B3137", carried_in_flash());
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B6), generous_ms);
        QCOMPARE(program->mainWindow->progressBar->format(), QString("Firmware is upgraded"));
        QCOMPARE(unit.tally().data_blocks + unit.tally().page_erases, 0);
        QVERIFY(unit.tally().upload_blocks > 0); // read back, byte for byte
        clear_bench({"1-1"});
    }

    void two_units_the_window_says_connect_one() {
        const virtual_unit::Unit& a = plug_lumo7(bed_, "1-1", "206A35744E4B", lumo7_b7());
        const virtual_unit::Unit& b = plug_lumo7(bed_, "1-2", "3776367B3036", lumo7_b7());
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(),
                                  QString("More than one unit is attached: connect only one unit."),
                                  generous_ms);
        QCOMPARE(status_line(), no_unit);
        QVERIFY(!program->mainWindow->installButton->isEnabled());
        QCOMPARE(a.tally().upload_blocks + b.tally().upload_blocks, 0); // neither was even read
        clear_bench({"1-1", "1-2"});
    }

    // Pulled out part-way: never "upgraded"; plugged in again it holds part of the new image,
    // is verified, differs, and the install is offered until it makes the unit good.
    void a_unit_lost_in_the_download_is_never_upgraded() {
        virtual_unit::Unit& unit = plug_lumo7(bed_, "1-1", "3776367B3742", lumo7_b7());
        virtual_unit::Faults faults;
        faults.unplug_after_download_bytes = 100000;
        unit.set_faults(faults);
        QTRY_COMPARE_WITH_TIMEOUT(status_line(), connected_with("B7"), generous_ms);
        QSignalSpy upgraded(program->sm_B()->B6, &QState::entered);
        QTest::mouseClick(program->mainWindow->installButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!bed_.attached("1-1"), generous_ms);
        QTRY_COMPARE_WITH_TIMEOUT(status_line(), no_unit, generous_ms);
        QCOMPARE(upgraded.count(), 0);

        bed_.replug("1-1");
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B7), generous_ms);
        QCOMPARE(upgraded.count(), 0);
        QCOMPARE(hint_line(), QString("The last upgrade did not complete (the unit was "
                                      "disconnected) and the firmware differs from %1: install "
                                      "it again.")
                                  .arg(program->settings.desired_revision));
        QTest::mouseClick(program->mainWindow->installButton, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B6), generous_ms);
        QVERIFY(unit.memory(flash_alt) == carried_in_flash());
        clear_bench({"1-1"});
    }

    void another_product_is_refused_nothing_written() {
        virtual_unit::Unit& unit = bed_.plug("1-1", "2B4D5E0A1F33");
        unit.set_memory(otp_alt, FakeDfuUtil::otp_image({Device::RAMO}));
        unit.set_memory(flash_alt, FakeDfuUtil::flash_image({Device::RAMO}, "C3", 32768));
        QTRY_VERIFY_WITH_TIMEOUT(in(program->sm_B()->B8), generous_ms);
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(),
                                  QString("This unit cannot be upgraded here: this program "
                                          "upgrades only Lumo-7 SyncX units."),
                                  generous_ms);
        QVERIFY(!program->mainWindow->installButton->isEnabled());
        QCOMPARE(unit.tally().data_blocks + unit.tally().page_erases, 0);
        clear_bench({"1-1"});
    }
};

int main(int argc, char** argv) {
    const QString unavailable = virtual_unit::Testbed::unavailable();
    if (!unavailable.isEmpty()) {
        std::printf("SKIP   : real mode cannot run here: %s\n", qPrintable(unavailable));
        return 0;
    }
    QTemporaryDir data; // the upgrade record of this run only
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    // The bus outlives the program: its worker runs dfu-util until the clean-up.
    const auto bed = std::make_unique<virtual_unit::Testbed>();
    bed->export_to_this_process();

    int app_argc = 1; // as the program starts without options: real mode
    char* app_argv[] = {argv[0], nullptr};
    QApplication app(app_argc, app_argv);
    owned_program = GUI_init(quick);
    program = owned_program.get();
    if (simulator::use)
        return 3;

    RealModeWindow test(*bed);
    const int result = QTest::qExec(&test, argc, argv);
    const int status = GUI_cleanup(*program, result);
    owned_program.reset();
    return status;
}

#include "real_mode_window.moc"
