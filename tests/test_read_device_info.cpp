// Reading a unit through the fake dfu-util: the two uploads, their order and command lines,
// how OTP and firmware are combined, the log messages, and stale result files.

#include "dfu/read_device_info.h"
#include "fake_dfu_util.h"
#include "file_contents.h"
#include "files/files.h"
#include "message_log.h"

#include <QFile>
#include <QtTest>

namespace {

using Switch = FakeDfuUtil::Switch;

QString otp_path() {
    return Files::path_of(Files::uploaded_OTP_fileName_bin);
}
QString fw_info_path() {
    return Files::path_of(Files::uploaded_FW_info_fileName_bin);
}

using namespace Device::memory_map;

QStringList otp_run() {
    return {"-d", "0483", "-a", "2", "-s", region_text(otp_address, otp_length), "-U", otp_path()};
}
QStringList fw_info_run() {
    const QString region = region_text(fw_info_address, fw_info_length);
    return {"-d", "0483", "-a", "0", "-s", region, "-U", fw_info_path()};
}

// The firmware's text form is the data model's; what matters here is where it appears.
QString fw_text(const QByteArray& flash) {
    return QString(Device::make_FW_Info(flash.left(2048)));
}

QString otp_message(const QString& product) {
    return "\"OTP info:\\nMarker valid\\nProduct: " + product + "\\n\"";
}

QString mismatch(const QString& otp_product, const QString& fw) {
    return "FW assumed invalid because of product type mismatch. \nOTP contains " + otp_product +
           " \nwhereas FW contains\n " + fw;
}

// Info messages other than the runner's own.
QStringList own_info_messages(const MessageLog& log) {
    QStringList out;
    for (const QString& text : log.texts(QtInfoMsg))
        if (!text.startsWith("Start ") && !text.startsWith("Exit with"))
            out << text;
    return out;
}

} // namespace

Q_DECLARE_METATYPE(QList<Switch>)

class TestReadDeviceInfo : public QObject {
    Q_OBJECT
private slots:
    void init() {
        QFile::remove(otp_path());
        QFile::remove(fw_info_path());
    }

    void combines_OTP_and_firmware_data() {
        QTest::addColumn<QByteArray>("otp");
        QTest::addColumn<QByteArray>("flash");
        QTest::addColumn<QList<Switch>>("switches");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("revision");
        QTest::addColumn<bool>("fw_valid");
        QTest::addColumn<bool>("fw_read");
        QTest::addColumn<QStringList>("messages");

        const QByteArray velk_otp = FakeDfuUtil::otp_image({3});
        const QByteArray velk_b8 = FakeDfuUtil::flash_image({3}, "B8");
        const QString velk_otp_message = otp_message("ProductInfo: VELK (3)");
        const QString invalid_fw = "FW info:\n\tInvalid";
        const QString not_used = "Device not used, has invalid info in its OTP info.";

        QTest::newRow("OTP upload fails")
            << velk_otp << velk_b8 << QList<Switch>{Switch::fail_upload_OTP} << false << 0
            << QString() << false << false << QStringList();
        QTest::newRow("OTP upload reports success but writes nothing")
            << velk_otp << velk_b8 << QList<Switch>{Switch::upload_writes_nothing} << false << 0
            << QString() << false << false << QStringList();
        QTest::newRow("blank OTP") << QByteArray(512, '\xFF') << velk_b8 << QList<Switch>() << false
                                   << 0 << QString() << false << false << QStringList();
        QTest::newRow("OTP type 0")
            << FakeDfuUtil::otp_image({0, 0, 0, 0}) << velk_b8 << QList<Switch>() << false << 0
            << QString() << false << false << QStringList{not_used};
        QTest::newRow("OTP type 255")
            << FakeDfuUtil::otp_image({255}) << velk_b8 << QList<Switch>() << false << 255
            << QString() << false << false << QStringList{not_used};
        QTest::newRow("OTP of an unknown product")
            << FakeDfuUtil::otp_image({0x2A}) << velk_b8 << QList<Switch>() << false << 0
            << QString() << false << false
            << QStringList{"Unknown device type according to OTP info,  "
                           "\"ProductInfo: unknown (254) [2a ff ff ff]\""};
        QTest::newRow("OTP valid, firmware upload fails")
            << velk_otp << velk_b8 << QList<Switch>{Switch::fail_upload_FW_info} << true << 3
            << QString() << false << true
            << QStringList{velk_otp_message, mismatch("ProductInfo: VELK (3)", invalid_fw)};
        QTest::newRow("OTP valid, erased flash")
            << velk_otp << QByteArray() << QList<Switch>() << true << 3 << QString() << false
            << true << QStringList{velk_otp_message, mismatch("ProductInfo: VELK (3)", invalid_fw)};
        const QByteArray ramo_b8 = FakeDfuUtil::flash_image({43}, "B8");
        QTest::newRow("OTP and firmware of different products")
            << velk_otp << ramo_b8 << QList<Switch>() << true << 3 << QString() << false << true
            << QStringList{velk_otp_message, mismatch("ProductInfo: VELK (3)", fw_text(ramo_b8))};
        QTest::newRow("same type, different product byte")
            << FakeDfuUtil::otp_image({3, 0x01}) << velk_b8 << QList<Switch>() << true << 3
            << QString() << false << true
            << QStringList{otp_message("ProductInfo: VELK (3) [03 01 ff ff]"),
                           mismatch("ProductInfo: VELK (3) [03 01 ff ff]", fw_text(velk_b8))};
        const QByteArray sund_a1 = FakeDfuUtil::flash_image({132, 7, 8, 9}, "A1");
        QTest::newRow("same product with product bytes, other revision")
            << FakeDfuUtil::otp_image({132, 7, 8, 9}) << sund_a1 << QList<Switch>() << true << 132
            << "A1" << true << true
            << QStringList{otp_message("ProductInfo: SUND (132) [84 07 08 09]"),
                           "DeviceInfo:\n\tDevice type:\t132\n\tFW_revision:\tA1\n",
                           fw_text(sund_a1)};
        const QByteArray desired = FakeDfuUtil::desired_firmware();
        QTest::newRow("the embedded firmware installed")
            << velk_otp << desired << QList<Switch>() << true << 3 << "B8" << true << true
            << QStringList{velk_otp_message, "DeviceInfo:\n\tDevice type:\t3\n\tFW_revision:\tB8\n",
                           fw_text(desired)};
    }

    void combines_OTP_and_firmware() {
        QFETCH(QByteArray, otp);
        QFETCH(QByteArray, flash);
        QFETCH(QList<Switch>, switches);
        QFETCH(bool, valid);
        QFETCH(int, type);
        QFETCH(QString, revision);
        QFETCH(bool, fw_valid);
        QFETCH(bool, fw_read);
        QFETCH(QStringList, messages);

        FakeDfuUtil fake;
        QVERIFY(fake.is_valid());
        fake.set_units({"3776367B3036"});
        fake.set_otp(otp);
        if (!flash.isEmpty())
            fake.set_flash(flash);
        for (const Switch s : switches)
            fake.fail(s);
        MessageLog log;

        const DFU::DeviceInfo info = DFU::read_device_info(nullptr);

        QCOMPARE(info.valid, valid);
        QCOMPARE(int(info.type), type);
        QCOMPARE(info.FW_revision, revision);
        QCOMPARE(info.FW_info.valid, fw_valid);
        QCOMPARE(info.OTP_info.product.type, static_cast<Device::Type>(type));
        // A unit whose OTP area could not be read is told apart from one that holds no record.
        const bool otp_read = !switches.contains(Switch::fail_upload_OTP) &&
                              !switches.contains(Switch::upload_writes_nothing);
        QCOMPARE(info.read_failure.cause == DFU::Cause::none, otp_read);
        const QList<QStringList> runs =
            fw_read ? QList<QStringList>{otp_run(), fw_info_run()} : QList<QStringList>{otp_run()};
        QCOMPARE(fake.recorded_runs(), runs);
        QCOMPARE(own_info_messages(log), messages);
    }

    // A result file left by an earlier unit must never stand in for a failed upload.
    void stale_result_file_is_deleted_first_data() {
        QTest::addColumn<bool>("otp"); // the OTP upload runs, else the firmware information one
        QTest::addColumn<QList<Switch>>("switches");
        QTest::addColumn<bool>("read");
        for (const bool otp : {true, false}) {
            const char* upload = otp ? "OTP" : "firmware information";
            const Switch fail = otp ? Switch::fail_upload_OTP : Switch::fail_upload_FW_info;
            QTest::addRow("%s upload succeeds", upload) << otp << QList<Switch>() << true;
            QTest::addRow("%s upload fails", upload) << otp << QList<Switch>{fail} << false;
            QTest::addRow("%s upload reports success but writes nothing", upload)
                << otp << QList<Switch>{Switch::upload_writes_nothing} << false;
        }
    }

    void stale_result_file_is_deleted_first() {
        QFETCH(bool, otp);
        QFETCH(QList<Switch>, switches);
        QFETCH(bool, read);
        FakeDfuUtil fake;
        fake.set_units({"3776367B3036"});
        if (otp)
            fake.set_otp(FakeDfuUtil::otp_image({3}));
        fake.set_flash(FakeDfuUtil::flash_image({3}, "B8"));
        for (const Switch s : switches)
            fake.fail(s, 1);

        if (otp) {
            QVERIFY(write_all(otp_path(), FakeDfuUtil::otp_image({43})));
            const Device::OTP_Info info = DFU::read_OTP_Info_from_device(nullptr);
            QCOMPARE(int(info.product.type), read ? int(Device::VELK) : 0);
            QCOMPARE(fake.recorded_runs(), QList<QStringList>{otp_run()});
        } else {
            QVERIFY(write_all(fw_info_path(), FakeDfuUtil::flash_image({3}, "B7")));
            const Device::FW_Info fw = DFU::read_FW_Info(nullptr);
            QCOMPARE(fw.revision, read ? QString("B8") : QString());
            QCOMPARE(fw.valid, read);
            QCOMPARE(fake.recorded_runs(), QList<QStringList>{fw_info_run()});
        }
    }

    // dfu-util picks the one unit it finds; the listed item only travels along.
    void reads_the_attached_unit_whatever_the_item() {
        FakeDfuUtil fake;
        fake.set_units({"3776367B3036"});
        fake.set_otp(FakeDfuUtil::otp_image({3}));
        fake.set_flash(FakeDfuUtil::flash_image({3}, "B8"));
        const DFU::DeviceItem other{"FFFF00000000"};

        const DFU::DeviceInfo with_item = DFU::read_device_info(&other);
        const DFU::DeviceInfo without = DFU::read_device_info(nullptr);

        QCOMPARE(QString(with_item), QString(without));
        QCOMPARE(with_item.FW_revision, QString("B8"));
        QCOMPARE(fake.recorded_runs(),
                 (QList<QStringList>{otp_run(), fw_info_run(), otp_run(), fw_info_run()}));
    }

    // Several units at once: dfu-util refuses to choose, and nothing is read.
    void two_units_attached_give_an_invalid_record() {
        FakeDfuUtil fake;
        fake.set_units({"3776367B3036", "2052327A4B31"});
        fake.set_otp(FakeDfuUtil::otp_image({3}));
        MessageLog log;

        const DFU::DeviceInfo info = DFU::read_device_info(nullptr);

        QVERIFY(!info.valid);
        QCOMPARE(DFU::to_QString(info.read_failure.cause), QString("other"));
        QVERIFY(info.read_failure.detail.startsWith(
            "dfu-util: More than one DFU capable USB device found!"));
        QCOMPARE(log.count("Exit with 74"), 1);
        QCOMPARE(fake.recorded_runs(), QList<QStringList>{otp_run()});
    }
};

QTEST_GUILESS_MAIN(TestReadDeviceInfo)
#include "test_read_device_info.moc"
