// The fake dfu-util that the device and workflow tests rely on: it must look like the real
// tool to the program, and its switches must do what they say.

#include "dfu/dfu_util.h"
#include "dfu/firmware_transfer.h"
#include "dfu/read_device_info.h"
#include "dfu/runner.h"
#include "dfu/scan.h"
#include "fake_dfu_util.h"
#include "program_run.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Device::memory_map;

namespace {

const QString A = QStringLiteral("3776367B3036");
const QString B = QStringLiteral("2052327A4B31");
const QByteArray cannot_open = "dfu-util: Cannot open DFU device 0483:df11\n";
const QByteArray no_unit = "dfu-util: No DFU capable USB device available\n";

} // namespace

class TestFakeDfuUtil : public QObject {
    Q_OBJECT
private slots:
    void a_counted_switch_applies_to_that_many_runs() {
        FakeDfuUtil fake;
        fake.set_units({A});
        fake.set_otp(FakeDfuUtil::otp_image({Device::VELK}));
        fake.set_flash(FakeDfuUtil::flash_image({Device::VELK}, "B8"));
        fake.fail(FakeDfuUtil::Switch::fail_upload_OTP, 2);

        QVERIFY(!DFU::read_device_info(nullptr).valid);
        QVERIFY(!DFU::read_device_info(nullptr).valid);
        QCOMPARE(DFU::read_device_info(nullptr).FW_revision, QString("B8"));
        QCOMPARE(DFU::read_device_info(nullptr).FW_revision, QString("B8"));
    }

    // Several units, each with its own images; one swapped for another between two scans.
    void units_have_their_own_images() {
        FakeDfuUtil fake;
        fake.set_otp(FakeDfuUtil::otp_image({Device::VELK}), A);
        fake.set_flash(FakeDfuUtil::flash_image({Device::VELK}, "B7"), A);
        fake.set_otp(FakeDfuUtil::otp_image({Device::RAMO}), B);
        fake.set_flash(FakeDfuUtil::flash_image({Device::RAMO}, "C1"), B);

        fake.set_units({A});
        QCOMPARE(FakeDfuUtil::serials(DFU::make_scan()), QStringList{A});
        QCOMPARE(DFU::read_device_info(nullptr).FW_revision, QString("B7"));

        fake.set_units({B, A});
        const DFU::Scan both = DFU::make_scan();
        QCOMPARE(both.status, 1);
        QCOMPARE(FakeDfuUtil::serials(both), (QStringList{B, A}));

        fake.set_units({B});
        const DFU::DeviceInfo info = DFU::read_device_info(nullptr);
        QCOMPARE(info.type, Device::RAMO);
        QCOMPARE(info.FW_revision, QString("C1"));
    }

    void a_download_changes_only_the_attached_units_flash() {
        FakeDfuUtil fake;
        QTemporaryDir dir;
        const QString dfu = dir.filePath("firmware.dfu");
        QVERIFY(QFile::copy(":resources/firmware.dfu", dfu));
        const QByteArray a_flash = FakeDfuUtil::flash_image({Device::VELK}, "B7");
        const QByteArray b_flash = FakeDfuUtil::flash_image({Device::VELK}, "B6");
        fake.set_flash(a_flash, A);
        fake.set_flash(b_flash, B);
        fake.set_units({B});

        fake.fail(FakeDfuUtil::Switch::download_keeps_flash, 1);
        QCOMPARE(DFU::download_FW_to_device(dfu), 0);
        QVERIFY(fake.flash(B) == b_flash);

        QCOMPARE(DFU::download_FW_to_device(dfu), 0);
        QVERIFY(fake.flash(B) == FakeDfuUtil::desired_firmware());
        QVERIFY(fake.flash(A) == a_flash);
    }

    void a_verbatim_listing_replaces_the_generated_one() {
        FakeDfuUtil fake;
        fake.set_units({A});
        fake.set_listing("Found Runtime: [0483:df11] ver=2200, devnum=5, cfg=1, intf=0, "
                         "path=\"1-1\", alt=0, name=\"UNKNOWN\", serial=\"3776367B3036\"\n");
        QVERIFY(DFU::make_scan().devices.empty());
    }

    void a_switch_fails_as_dfu_util_would_data() {
        using S = FakeDfuUtil::Switch;
        using DFU::CmdID;
        QTest::addColumn<QString>("config"); // a prepared configuration, or none: unit A
        QTest::addColumn<int>("what");       // a Switch, or -1 for none
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("code"); // -1: crashed
        QTest::addColumn<QByteArray>("err");
        const auto row = [](const char* name, int what, CmdID id, int code, const QByteArray& err) {
            QTest::newRow(name) << QString() << what << static_cast<int>(id) << code << err;
        };
        const auto prepared = [](const char* config, CmdID id, int code, const QByteArray& err) {
            QTest::addRow("%s: %s", config,
                          id == CmdID::list ? "listing" : id == CmdID::download_FW ? "download" : "upload")
                << config << -1 << static_cast<int>(id) << code << err;
        };
        const auto sw = [](S what) { return static_cast<int>(what); };
        row("no switch: version", -1, CmdID::version, 0, "");
        row("no switch: listing", -1, CmdID::list, 0, "");
        // dfu-util reads the OTP area's layout, "01*512 e,01*016 e", and finds no multipliers.
        const QByteArray otp_layout = "dfu-util: Non-valid multiplier ' ', assuming bytes\n"
                                      "dfu-util: Non-valid multiplier ' ', assuming bytes\n";
        row("no switch: upload", -1, CmdID::upload_OTP, 0, otp_layout);
        const QByteArray claimed = "dfu-util: Cannot claim interface\n";
        const QByteArray erase_failed = "dfu-util: ERASE_PAGE not correctly executed\n";
        const QByteArray transfer = "dfu-util: dfuse_download: libusb_control_transfer returned ";
        row("denied: listing", sw(S::deny_access), CmdID::list, 0, cannot_open);
        row("denied: upload", sw(S::deny_access), CmdID::upload_OTP, 74, cannot_open + no_unit);
        row("denied: download", sw(S::deny_access), CmdID::download_FW, 74, cannot_open + no_unit);
        row("busy: listing", sw(S::busy), CmdID::list, 0, "");
        row("busy: upload", sw(S::busy), CmdID::upload_OTP, 74, claimed);
        row("busy: download", sw(S::busy), CmdID::download_FW, 74, claimed);
        row("listing fails", sw(S::fail_list), CmdID::list, 74, "dfu-util: error get_status\n");
        row("upload fails", sw(S::fail_upload_OTP), CmdID::upload_OTP, 74,
            otp_layout + "dfu-util: dfuse_upload: libusb_control_msg returned -9\n");
        row("download fails", sw(S::fail_download), CmdID::download_FW, 74, erase_failed);
        row("download refused", sw(S::refuse_download), CmdID::download_FW, 74, transfer + "-9\n");
        row("unit lost", sw(S::lose_unit_on_download), CmdID::download_FW, 74, transfer + "-4\n");
        row("crash during the download", sw(S::crash_download), CmdID::download_FW, -1, "");
        const QByteArray two = "dfu-util: More than one DFU capable USB device found! Try "
                               "`--list' and specify the serial number or disconnect all but one "
                               "device\n\n";
        prepared("no_unit", CmdID::upload_OTP, 74, no_unit);
        prepared("no_unit", CmdID::download_FW, 74, no_unit);
        prepared("two_units", CmdID::upload_OTP, 74, two);
        prepared("two_units", CmdID::download_FW, 74, two);
        prepared("no_access", CmdID::list, 0, cannot_open);
        prepared("no_access", CmdID::upload_OTP, 74, cannot_open + no_unit);
        prepared("unit_busy", CmdID::list, 0, "");
        prepared("unit_busy", CmdID::upload_OTP, 74, claimed);
        prepared("lost_during_download", CmdID::download_FW, 74, transfer + "-4\n");
    }

    // Standard error and exit code as the real tool's, for a switch or a prepared unit; every run
    // starts with the banner, a listing without complaint lists the unit, an upload leaves its
    // file only when it reached the unit, and only a lost unit's failed download changes the
    // flash (the pages written before it went).
    void a_switch_fails_as_dfu_util_would() {
        QFETCH(QString, config);
        QFETCH(int, what);
        QFETCH(int, id);
        QFETCH(int, code);
        QFETCH(QByteArray, err);
        FakeDfuUtil fake;
        const QByteArray flash = FakeDfuUtil::flash_image({Device::VELK}, "B7");
        if (config.isEmpty()) {
            fake.set_units({A});
            fake.set_flash(flash);
        } else {
            QVERIFY(fake.set_configuration(config));
        }
        if (what >= 0)
            fake.fail(static_cast<FakeDfuUtil::Switch>(what));
        QTemporaryDir dir;
        QVERIFY(QFile::copy(":resources/firmware.dfu", dir.filePath("firmware.dfu")));
        const auto cmd = static_cast<DFU::CmdID>(id);
        const bool extra = cmd == DFU::CmdID::upload_OTP || cmd == DFU::CmdID::download_FW;
        const ProgramRun r = run_program(
            cmd, extra ? QStringList{dir.filePath(cmd == DFU::CmdID::upload_OTP ? "otp.bin" : "firmware.dfu")}
                       : QStringList());

        QCOMPARE(r.exit_code, code);
        if (code >= 0)
            QCOMPARE(r.err, err);
        QVERIFY(r.out.startsWith(DFU::dfu_util::expected_output_of_execution_test.toUtf8()));
        QCOMPARE(r.out.contains("Found DFU"), cmd == DFU::CmdID::list && code == 0 && err.isEmpty());
        const bool reached =
            code == 0 || what == static_cast<int>(FakeDfuUtil::Switch::fail_upload_OTP);
        QCOMPARE(QFile::exists(dir.filePath("otp.bin")), cmd == DFU::CmdID::upload_OTP && reached);
        if (config.isEmpty() &&
            what != static_cast<int>(FakeDfuUtil::Switch::lose_unit_on_download))
            QVERIFY(fake.flash() == flash);
    }

    // The OTP area and the information block are read at once; the read-back takes its time.
    void upload_seconds_slow_down_only_the_read_back() {
        FakeDfuUtil fake;
        fake.set_units({A});
        fake.set_upload_seconds(1000);
        QTemporaryDir dir;
        QCOMPARE(DFU::run_command(DFU::CmdID::upload_OTP, {dir.filePath("otp")}).exit_code, 0);
        QCOMPARE(DFU::run_command(DFU::CmdID::upload_FW_info, {dir.filePath("info")}).exit_code, 0);
        QProcess read_back;
        read_back.start(
            FakeDfuUtil::script_path(),
            DFU::commands[DFU::CmdID::upload_FW].args +
                QStringList{"-s", region_text(flash_base, 4096), "-U", dir.filePath("flash")});
        QVERIFY(read_back.waitForStarted(60000));
        QVERIFY(!read_back.waitForFinished(500)); // 40 s a mark
        read_back.kill();
        read_back.waitForFinished(60000);
    }

    void the_table_is_restored_afterwards() {
        const auto before = DFU::commands;
        const QString path_before = DFU::Command::path;
        {
            FakeDfuUtil fake;
            QCOMPARE(DFU::commands[DFU::CmdID::list].program, FakeDfuUtil::script_path());
            QVERIFY(qEnvironmentVariableIsSet("FAKE_DFU_UTIL_STATE"));
            QVERIFY(DFU::dfu_util::execution_test());
        }
        QCOMPARE(DFU::commands.size(), before.size());
        for (const auto& entry : before)
            QCOMPARE(QString(DFU::commands[entry.first]), QString(entry.second));
        QCOMPARE(DFU::Command::path, path_before);
        QVERIFY(!qEnvironmentVariableIsSet("FAKE_DFU_UTIL_STATE"));
    }
};

QTEST_GUILESS_MAIN(TestFakeDfuUtil)
#include "test_fake_dfu_util.moc"
