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
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace Device::memory_map;

namespace {

const QString A = QStringLiteral("3776367B3036");
const QString B = QStringLiteral("2052327A4B31");
const QByteArray cannot_open = "dfu-util: Cannot open DFU device 0483:df11\n";
const QByteArray no_unit = "dfu-util: No DFU capable USB device available\n";

// A listing's units as "port serial", each once in listing order; "not whole: <line>" for a
// unit listed without its four alternate settings, or a line of another shape.
QStringList listed_units(const QString& output) {
    static const QRegularExpression line(QStringLiteral(
        R"re(^Found DFU: .* path="([^"]+)", alt=(\d), name="[^"]*", serial="([0-9A-F]+)"$)re"));
    QStringList units;
    QStringList lines = output.split('\n', Qt::SkipEmptyParts).filter("Found");
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = line.match(lines[i]);
        const QString unit = m.captured(1) + ' ' + m.captured(3);
        if (!m.hasMatch() || m.captured(2).toInt() != 3 - i % 4 || (i % 4 && units.last() != unit))
            return {"not whole: " + lines[i]};
        if (i % 4 == 0)
            units << unit;
    }
    return lines.size() % 4 ? QStringList{"not whole: " + lines.last()} : units;
}

QStringList listed_units() {
    const DFU::CmdResult r = DFU::run_command(DFU::CmdID::list, {});
    return r.exit_code == 0 ? listed_units(r.output) : QStringList{r.output};
}

// The desired firmware's DfuSe file in `dir`.
QString dfu_file(const QTemporaryDir& dir) {
    const QString path = dir.filePath("firmware.dfu");
    return QFile::exists(path) || QFile::copy(":resources/firmware.dfu", path) ? path : QString();
}

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

    void a_fault_at_one_port_leaves_the_other_unit_data() {
        using S = FakeDfuUtil::Switch;
        QTest::addColumn<FakeDfuUtil::Switch>("what");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("code"); // -1: crashed
        QTest::addColumn<bool>("listed"); // afterwards
        const int download = static_cast<int>(DFU::CmdID::download_FW);
        QTest::newRow("unplugged in its download")
            << S::lose_unit_on_download << download << 74 << false;
        QTest::newRow("download fails") << S::fail_download << download << 74 << true;
        QTest::newRow("download refused") << S::refuse_download << download << 74 << true;
        QTest::newRow("crash during the download") << S::crash_download << download << -1 << true;
        QTest::newRow("download keeps the flash")
            << S::download_keeps_flash << download << 0 << true;
        QTest::newRow("denied") << S::deny_access << download << 74 << false;
        QTest::newRow("busy") << S::busy << download << 74 << true;
        QTest::newRow("OTP unreadable")
            << S::fail_upload_OTP << static_cast<int>(DFU::CmdID::upload_OTP) << 74 << true;
    }

    // Two units on two ports with one serial, a switch for the first alone: its run fails as
    // the switch says and leaves its flash (but for what an unplugged one had written); the other's run succeeds; a unit unplugged in its
    // download stays away, scan after scan, and one denied is never listed.
    void a_fault_at_one_port_leaves_the_other_unit() {
        QFETCH(FakeDfuUtil::Switch, what);
        QFETCH(int, id);
        QFETCH(int, code);
        QFETCH(bool, listed);
        FakeDfuUtil fake;
        const QByteArray otp = FakeDfuUtil::otp_image({Device::VELK});
        const QByteArray first = FakeDfuUtil::flash_image({Device::VELK}, "B6");
        const QByteArray second = FakeDfuUtil::flash_image({Device::VELK}, "B7");
        fake.attach("1-1.1", A, otp, first);
        fake.attach("1-1.2", A, otp, second);
        fake.fail_at("1-1.1", what);
        QTemporaryDir dir;
        const auto cmd = static_cast<DFU::CmdID>(id);
        const auto run_at = [&](const QString& port) {
            const QString file =
                cmd == DFU::CmdID::upload_OTP ? dir.filePath("otp_" + port) : dfu_file(dir);
            return DFU::run_command(cmd, {file, "-p", port}).exit_code;
        };

        QCOMPARE(run_at("1-1.1"), code);
        QCOMPARE(run_at("1-1.2"), 0);
        for (int scan = 0; scan < 8; ++scan)
            listed_units();
        const QStringList both = {"1-1.1 " + A, "1-1.2 " + A};
        QCOMPARE(listed_units(), listed ? both : QStringList{both.last()});
        // A unit that went keeps what was written before it went, as a real one does.
        if (what == FakeDfuUtil::Switch::lose_unit_on_download)
            QVERIFY(fake.flash_at("1-1.1") != first &&
                    fake.flash_at("1-1.1").left(4096) == FakeDfuUtil::desired_firmware().left(4096));
        else
            QVERIFY(fake.flash_at("1-1.1") == first);
        QVERIFY(fake.flash_at("1-1.2") ==
                (cmd == DFU::CmdID::download_FW ? FakeDfuUtil::desired_firmware() : second));
    }

    void a_unit_that_leaves_its_port_in_its_download_is_not_written_data() {
        QTest::addColumn<bool>("replaced"); // by another unit at its port; else pulled out
        QTest::newRow("pulled out") << false;
        QTest::newRow("another unit plugged in at its port") << true;
    }

    // The download runs to its end and finds its unit gone: "returned -4", exit 74, and
    // nothing written into the unit now at the port.
    void a_unit_that_leaves_its_port_in_its_download_is_not_written() {
        QFETCH(bool, replaced);
        FakeDfuUtil fake;
        const QByteArray otp = FakeDfuUtil::otp_image({Device::VELK});
        const QByteArray before = FakeDfuUtil::flash_image({Device::VELK}, "B6");
        const QByteArray next = FakeDfuUtil::flash_image({Device::VELK}, "B7");
        fake.attach("1-1.3", A, otp, before);
        fake.set_download_seconds(1);
        QTemporaryDir dir;
        QProcess download;
        download.start(FakeDfuUtil::script_path(), DFU::commands[DFU::CmdID::download_FW].args +
                                                       QStringList{dfu_file(dir), "-p", "1-1.3"});
        QByteArray out; // until the first progress update: the unit was found
        while (!out.contains("Download\t[") && download.waitForReadyRead(60000))
            out += download.readAllStandardOutput();
        if (replaced)
            fake.attach("1-1.3", B, otp, next);
        else
            fake.detach("1-1.3");

        QVERIFY(download.waitForFinished(60000));
        QCOMPARE(download.exitCode(), 74);
        QVERIFY(download.readAllStandardError().endsWith("libusb_control_transfer returned -4\n"));
        QVERIFY(fake.flash_at("1-1.3") == (replaced ? next : before));
        QCOMPARE(listed_units(), replaced ? QStringList{"1-1.3 " + B} : QStringList());
    }

    // A line's engineer plugs units into the sockets and pulls them out while the program
    // polls from its worker: every listing shows whole units, each with its own serial.
    void units_come_and_go_while_the_program_polls() {
        FakeDfuUtil fake;
        const QStringList ports = {"1-1.1", "1-1.2", "1-1.3", "1-1.4"};
        const auto serial = [](const QString& port) { return "3776367B51" + port.right(1) + "0"; };
        const QByteArray otp = FakeDfuUtil::otp_image({Device::VELK});
        const QByteArray flash = FakeDfuUtil::flash_image({Device::VELK}, "B7");
        std::atomic<bool> done{false};
        std::atomic<int> polls{0};
        QStringList not_whole; // the poller's alone until it is joined
        std::thread poller([&] {
            while (!done) {
                for (const QString& unit : listed_units())
                    if (!ports.contains(unit.section(' ', 0, 0)) ||
                        unit.section(' ', 1) != serial(unit.section(' ', 0, 0)))
                        not_whole << unit;
                ++polls;
            }
        });
        for (int round = 0; round < 400 && (round < 8 || polls < 20); ++round) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // a hand is slower
            const QString port = ports[round % 4];
            if (round % 3 == 2)
                fake.detach(port);
            else
                fake.attach(port, serial(port), otp, flash);
        }
        done = true;
        poller.join(); // the poller's list is the test's from here

        QVERIFY(polls >= 20);
        QCOMPARE(not_whole, QStringList());
        fake.set_units({});
        for (const QString& port : ports)
            fake.attach(port, serial(port), otp, flash);
        fake.detach("1-1.2");
        QCOMPARE(listed_units(),
                 (QStringList{"1-1.1 " + serial("1-1.1"), "1-1.3 " + serial("1-1.3"),
                              "1-1.4 " + serial("1-1.4")}));
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
