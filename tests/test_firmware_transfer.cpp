// Download, read-back and byte-for-byte verification through the fake dfu-util, and the
// desired firmware's information block and digest.

#include "dfu/desired_firmware.h"
#include "dfu/firmware_transfer.h"
#include "dfu/scan.h"
#include "fake_dfu_util.h"
#include "file_contents.h"
#include "files/files.h"
#include "message_log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Switch = FakeDfuUtil::Switch;

const QString unit = QStringLiteral("3776367B3036");

QStringList upload_run(int size, const QString& path) {
    using namespace Device::memory_map;
    return {"-d", "0483", "-a", "0", "-s", region_text(flash_base, size), "-U", path};
}

QByteArray with_byte_changed(QByteArray bytes, int index) {
    bytes[index] = static_cast<char>(bytes[index] ^ 0x01);
    return bytes;
}

// A firmware image whose last byte is not an erased one (0xFF).
QByteArray image() {
    return FakeDfuUtil::flash_image({Device::VELK}, "B8", 4096);
}

} // namespace

Q_DECLARE_METATYPE(QList<Switch>)

class TestFirmwareTransfer : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QVERIFY(QFile::copy(":resources/firmware.dfu", path("firmware.dfu")));
        QVERIFY(QFile::copy(":resources/firmware.bin", path("firmware.bin")));
    }

    void download_writes_the_DfuSe_file_into_the_unit() {
        FakeDfuUtil fake;
        fake.set_units({unit});
        fake.set_flash(image());
        MessageLog log;

        QCOMPARE(DFU::download_FW_to_device(path("firmware.dfu")), 0);

        QCOMPARE(fake.recorded_runs(),
                 (QList<QStringList>{{"-d", "0483", "-a", "0", "-D", path("firmware.dfu")}}));
        QVERIFY(fake.flash() == FakeDfuUtil::desired_firmware());
        QCOMPARE(log.count("Start "), 1);
        QCOMPARE(log.count("Exit with"), 0);
    }

    void download_returns_the_tools_exit_code_data() {
        QTest::addColumn<QStringList>("units");
        QTest::addColumn<QList<Switch>>("switches");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("units_after");
        QTest::addColumn<bool>("flash_kept"); // a lost unit keeps what was written before it went
        QTest::newRow("no unit") << QStringList() << QList<Switch>() << "firmware.dfu"
                                 << QStringList() << true;
        QTest::newRow("two units") << QStringList{unit, "2052327A4B31"} << QList<Switch>()
                                   << "firmware.dfu" << QStringList{unit, "2052327A4B31"} << true;
        QTest::newRow("download fails") << QStringList{unit} << QList<Switch>{Switch::fail_download}
                                        << "firmware.dfu" << QStringList{unit} << true;
        QTest::newRow("unit lost mid-download")
            << QStringList{unit} << QList<Switch>{Switch::lose_unit_on_download} << "firmware.dfu"
            << QStringList() << false;
        QTest::newRow("missing DfuSe file")
            << QStringList{unit} << QList<Switch>() << "missing.dfu" << QStringList{unit} << true;
    }

    void download_returns_the_tools_exit_code() {
        QFETCH(QStringList, units);
        QFETCH(QList<Switch>, switches);
        QFETCH(QString, file);
        QFETCH(QStringList, units_after);
        FakeDfuUtil fake;
        fake.set_units(units);
        fake.set_flash(image());
        for (const Switch s : switches)
            fake.fail(s);
        MessageLog log;

        QCOMPARE(DFU::download_FW_to_device(path(file)), 74);

        QCOMPARE(log.count("Exit with 74"), 1);
        QTEST(fake.flash() == image(), "flash_kept");
        // What the next scan sees.
        QCOMPARE(FakeDfuUtil::serials(DFU::make_scan()), units_after);
    }

    void upload_deletes_the_file_and_reads_size_bytes_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("one byte") << 1;
        QTest::newRow("firmware information") << 2048;
        QTest::newRow("the embedded firmware's size") << 400308;
    }

    void upload_deletes_the_file_and_reads_size_bytes() {
        QFETCH(int, size);
        FakeDfuUtil fake;
        fake.set_units({unit});
        fake.set_flash(FakeDfuUtil::desired_firmware());
        const QString target = path("uploaded_FW.bin");
        QVERIFY(write_all(target, "stale data from an earlier unit"));

        QCOMPARE(DFU::upload_FW_from_device(target, size), 0);

        QCOMPARE(fake.recorded_runs(), QList<QStringList>{upload_run(size, target)});
        QVERIFY(read_all(target) == FakeDfuUtil::desired_firmware().left(size));
    }

    void upload_and_compare_data() {
        QTest::addColumn<QByteArray>("desired"); // null: no such file
        QTest::addColumn<QByteArray>("flash");
        QTest::addColumn<QList<Switch>>("switches");
        QTest::addColumn<bool>("equal");
        QTest::addColumn<bool>("uploads");

        const QByteArray fw = image();
        const QList<Switch> none;
        QTest::newRow("equal") << fw << fw << none << true << true;
        QTest::newRow("flash holds more than the image")
            << fw << fw + QByteArray(100, 'x') << none << true << true;
        QTest::newRow("first byte different")
            << fw << with_byte_changed(fw, 0) << none << false << true;
        QTest::newRow("one byte in the block different")
            << fw << with_byte_changed(fw, 428 + 40) << none << false << true;
        QTest::newRow("last byte different")
            << fw << with_byte_changed(fw, fw.size() - 1) << none << false << true;
        QTest::newRow("flash one byte shorter than the image")
            << fw << fw.chopped(1) << none << false << true;
        QTest::newRow("erased flash") << fw << QByteArray() << none << false << true;
        QTest::newRow("missing desired image") << QByteArray() << fw << none << false << false;
        QTest::newRow("empty desired image") << QByteArray("") << fw << none << false << false;
        QTest::newRow("failed upload")
            << fw << fw << QList<Switch>{Switch::fail_upload_FW} << false << true;
        QTest::newRow("upload reports success but writes nothing")
            << fw << fw << QList<Switch>{Switch::upload_writes_nothing} << false << true;
    }

    void upload_and_compare() {
        QFETCH(QByteArray, desired);
        QFETCH(QByteArray, flash);
        QFETCH(QList<Switch>, switches);
        QFETCH(bool, equal);
        QFETCH(bool, uploads);

        FakeDfuUtil fake;
        fake.set_units({unit});
        if (!flash.isEmpty())
            fake.set_flash(flash);
        for (const Switch s : switches)
            fake.fail(s);
        const QString desired_path = path("desired.bin");
        QFile::remove(desired_path);
        if (!desired.isNull())
            QVERIFY(write_all(desired_path, desired));
        // A stale read-back equal to the image must never count as a match.
        const QString uploaded = path("uploaded_FW.bin");
        QVERIFY(write_all(uploaded, image()));
        MessageLog log;

        QCOMPARE(DFU::upload_and_compare_FW_bin(desired_path, uploaded), equal);

        const QList<QStringList> runs =
            uploads ? QList<QStringList>{upload_run(desired.size(), uploaded)}
                    : QList<QStringList>{};
        QCOMPARE(fake.recorded_runs(), runs);
        const bool fails = switches.contains(Switch::fail_upload_FW);
        QCOMPARE(log.count("Exit with 74"), fails ? 1 : 0);
    }

    // The whole road: the embedded DfuSe file in, the embedded raw image read back.
    void downloaded_firmware_verifies() {
        FakeDfuUtil fake;
        fake.set_units({unit});
        fake.set_flash(image());
        const QString uploaded = path("uploaded_FW.bin");

        QVERIFY(!DFU::upload_and_compare_FW_bin(path("firmware.bin"), uploaded));
        QCOMPARE(DFU::download_FW_to_device(path("firmware.dfu")), 0);
        QVERIFY(DFU::upload_and_compare_FW_bin(path("firmware.bin"), uploaded));

        QCOMPARE(fake.recorded_runs(),
                 (QList<QStringList>{upload_run(400308, uploaded),
                                     {"-d", "0483", "-a", "0", "-D", path("firmware.dfu")},
                                     upload_run(400308, uploaded)}));
    }

    void compare_files_data() {
        QTest::addColumn<QByteArray>("a"); // null: no such file
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("equal");
        const QByteArray fw = image();
        QTest::newRow("identical") << fw << fw << true;
        QTest::newRow("identical, one byte") << QByteArray("x") << QByteArray("x") << true;
        QTest::newRow("first byte different") << fw << with_byte_changed(fw, 0) << false;
        QTest::newRow("last byte different") << fw << with_byte_changed(fw, fw.size() - 1) << false;
        QTest::newRow("second one byte shorter") << fw << fw.chopped(1) << false;
        QTest::newRow("second one byte longer") << fw << fw + '\xFF' << false;
        QTest::newRow("first one byte shorter") << fw.chopped(1) << fw << false;
        QTest::newRow("both empty") << QByteArray("") << QByteArray("") << false;
        QTest::newRow("first missing") << QByteArray() << fw << false;
        QTest::newRow("second missing") << fw << QByteArray() << false;
        QTest::newRow("both missing") << QByteArray() << QByteArray() << false;
    }

    void compare_files() {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, equal);
        const QString path_a = path("a.bin");
        const QString path_b = path("b.bin");
        QFile::remove(path_a);
        QFile::remove(path_b);
        if (!a.isNull())
            QVERIFY(write_all(path_a, a));
        if (!b.isNull())
            QVERIFY(write_all(path_b, b));

        QCOMPARE(DFU::compare_FW_bin_files(path_a, path_b), equal);
        QCOMPARE(DFU::compare_FW_bin_files(path_b, path_a), equal);
        // Comparing reads only.
        QVERIFY(read_all(path_a) == (a.isNull() ? QByteArray() : a));
        QVERIFY(read_all(path_b) == (b.isNull() ? QByteArray() : b));
    }

    void size_of_binary_file_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::newRow("missing") << "no such file" << -1;
        QTest::newRow("directory") << "a directory" << -1;
        QTest::newRow("empty") << "empty.bin" << 0;
        QTest::newRow("embedded firmware") << "firmware.bin" << 400308;
    }

    void size_of_binary_file() {
        QFETCH(QString, name);
        QFETCH(int, size);
        QDir(dir_.path()).mkpath("a directory");
        QVERIFY(write_all(path("empty.bin"), QByteArray()));
        QCOMPARE(DFU::size_of_binary_file(path(name)), size);
    }

    // Nothing else in this test program may ask for the desired firmware first.
    void desired_FW_Info_is_read_once() {
        const QString desired = Files::path_of(Files::desired_FW_fileName_bin);
        QVERIFY(!QFile::exists(desired));
        MessageLog log;
        // Not extracted (yet): the embedded image itself still names the desired firmware.
        QCOMPARE(DFU::read_FW_Info_from_desired_FW().revision, QString("B8"));
        QCOMPARE(log.texts(QtDebugMsg).filter("Reading desired FW_Info from "),
                 QStringList{"Reading desired FW_Info from  \":resources/firmware.bin\""});
        QVERIFY(Files::extract_resources({Files::ID::firmware_bin}, true));
        log.clear();

        const Device::FW_Info& first = DFU::desired_FW_Info();
        const Device::FW_Info& second = DFU::desired_FW_Info();

        QCOMPARE(&first, &second);
        QVERIFY(first.valid);
        QCOMPARE(first.product.type, Device::VELK);
        QCOMPARE(first.name, QString("LUMO7"));
        QCOMPARE(first.revision, QString("B8"));
        QCOMPARE(first.details.size(), size_t(9));
        QCOMPARE(log.texts(QtDebugMsg).filter("Reading desired FW_Info from "),
                 QStringList{"Reading desired FW_Info from  \"" + desired + "\""});
    }

    // The digest the build embedded beside the DfuSe file is that file's, as the record and the
    // package name it.
    void desired_FW_sha256_is_that_of_the_embedded_DfuSe_file() {
        QFile dfu(QStringLiteral(":resources/firmware.dfu"));
        QVERIFY(dfu.open(QIODevice::ReadOnly));
        const QByteArray digest =
            QCryptographicHash::hash(dfu.readAll(), QCryptographicHash::Sha256).toHex();
        QCOMPARE(DFU::desired_FW_sha256(), QString::fromLatin1(digest));
    }
};

QTEST_GUILESS_MAIN(TestFirmwareTransfer)
#include "test_firmware_transfer.moc"
