// The real embedded dfu-util 0.9 with no unit attached, as on every build machine: nothing is
// found, nothing is read, nothing verifies.

#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "dfu/firmware_transfer.h"
#include "dfu/read_device_info.h"
#include "dfu/scan.h"
#include "files/files.h"
#include "files/support_misc.h"
#include "message_log.h"

#include <QFile>
#include <QtTest>

using namespace Device::memory_map;

class TestDfuUtilNoUnit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(Files::extract_resources({Files::ID::dfu_util_executable, Files::ID::libusb_library,
                                          Files::ID::firmware_bin},
                                         true));
        QVERIFY(support_misc::mark_file_executable(DFU::dfu_util::full_path()));
        DFU::Command::path = Files::external_dir.path();
        // A machine with a unit in its bootloader would make every check below meaningless.
        const DFU::Scan scan = DFU::make_scan();
        if (!scan.devices.empty())
            QSKIP("a DFU unit of vendor 0483 is attached");
    }

    void scan_finds_no_unit() {
        MessageLog log;
        const DFU::Scan scan = DFU::make_scan();
        QCOMPARE(scan.status, 1);
        QVERIFY(scan.devices.empty());
        QCOMPARE(log.count("Start "), 0);
    }

    void reading_device_info_stops_after_the_OTP() {
        MessageLog log;
        const DFU::DeviceInfo info = DFU::read_device_info(nullptr);

        QVERIFY(!info.valid);
        QCOMPARE(info.type, Device::invalid);
        QVERIFY(!info.FW_info.valid);
        QCOMPARE(QString(info), QString("DeviceInfo:\nInvalid"));
        const QStringList starts = log.texts(QtInfoMsg).filter("Start ");
        QCOMPARE(starts.size(), 1);
        QVERIFY2(starts[0].contains('"' + region_text(otp_address, otp_length) + '"'),
                 qPrintable(starts[0]));
        QCOMPARE(log.count(address_text(flash_base)), 0);
        QCOMPARE(log.count("Exit with 74"), 1);
        QVERIFY(!QFile::exists(Files::path_of(Files::uploaded_OTP_fileName_bin)));
    }

    void verification_fails_with_the_tools_exit_code() {
        MessageLog log;
        const QString uploaded = Files::path_of(Files::uploaded_FW_fileName_bin);

        QVERIFY(!DFU::upload_and_compare_FW_bin(Files::path_of(Files::desired_FW_fileName_bin),
                                                uploaded));

        const QStringList starts = log.texts(QtInfoMsg).filter("Start ");
        QCOMPARE(starts.size(), 1);
        QVERIFY2(starts[0].contains('"' + region_text(flash_base, 400308) + '"'),
                 qPrintable(starts[0]));
        QCOMPARE(log.count("Exit with 74"), 1);
        QVERIFY(!QFile::exists(uploaded));
    }

    void download_returns_74() {
        MessageLog log;
        QVERIFY(Files::extract_resources({Files::ID::firmware_dfu}, true));
        QCOMPARE(DFU::download_FW_to_device(Files::path_of(Files::desired_FW_fileName_dfu)), 74);
        QCOMPARE(log.count("Exit with 74"), 1);
    }
};

QTEST_GUILESS_MAIN(TestDfuUtilNoUnit)
#include "test_dfu_util_no_unit.moc"
