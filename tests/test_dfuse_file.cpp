// The DfuSe container: the generated desired firmware and the reader's handling of bad files.

#include "device/memory_map.h"
#include "dfu/dfuse_file.h"
#include "file_contents.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Device::memory_map;

class TestDfuseFile : public QObject {
    Q_OBJECT
private slots:
    void embedded_firmware_holds_the_raw_image_at_flash_start() {
        const QByteArray dfu = read_all(":resources/firmware.dfu");
        const QByteArray bin = read_all(":resources/firmware.bin");
        QCOMPARE(bin.size(), 400308);
        const DFU::DfuSe::File file = DFU::DfuSe::parse(dfu);
        QVERIFY2(file.valid, qPrintable(file.error));
        QCOMPARE(file.format_version, quint8(1));
        QCOMPARE(file.vendor, quint16(0x0483));
        QCOMPARE(file.product, quint16(0xdf11));
        QCOMPARE(file.dfu_version, quint16(0x011A));
        QCOMPARE(file.targets.size(), size_t(1));
        QCOMPARE(file.targets[0].alternate_setting, quint8(0));
        QCOMPARE(file.targets[0].elements.size(), size_t(1));
        QVERIFY(DFU::DfuSe::element_at(file, flash_base) == bin);
        QVERIFY(DFU::DfuSe::element_at(file, flash_base + 0x4000).isNull());
    }

    void dfu_suffix_of_the_same_package_accepts_it() {
        const QString tool = QStringLiteral(ORVANTA_DFU_SUFFIX);
        if (!QFile::exists(tool))
            QSKIP("dfu-suffix was not fetched with dfu-util");
        QTemporaryDir dir;
        const QString path = dir.filePath("firmware.dfu");
        QVERIFY(QFile::copy(":resources/firmware.dfu", path));
        QProcess p;
        p.start(tool, {"-c", path});
        QVERIFY(p.waitForFinished(10000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        QVERIFY2(p.exitCode() == 0, qPrintable(out));
        QVERIFY2(out.contains("Vendor ID:\t0x0483"), qPrintable(out));
        QVERIFY2(out.contains("Product ID:\t0xDF11"), qPrintable(out));
        QVERIFY2(out.contains("BCD DFU:\t0x011A"), qPrintable(out));
    }

    void round_trip_keeps_targets_and_elements() {
        DFU::DfuSe::Target a;
        a.alternate_setting = 0;
        a.name = "Internal Flash";
        a.elements = {{flash_base, QByteArray("abc")}, {flash_base + 0x10000, QByteArray(5, 'x')}};
        DFU::DfuSe::Target b;
        b.alternate_setting = 2;
        b.elements = {{otp_address, QByteArray(16, '\x11')}};
        const DFU::DfuSe::File f = DFU::DfuSe::parse(DFU::DfuSe::make_file({a, b}, 0x0483, 0xdf11));
        QVERIFY2(f.valid, qPrintable(f.error));
        QCOMPARE(f.targets.size(), size_t(2));
        QCOMPARE(f.targets[0].name, QString("Internal Flash"));
        QCOMPARE(f.targets[1].alternate_setting, quint8(2));
        QCOMPARE(DFU::DfuSe::element_at(f, flash_base + 0x10000), QByteArray(5, 'x'));
        QCOMPARE(DFU::DfuSe::element_at(f, otp_address), QByteArray(16, '\x11'));
    }

    void malformed_files_are_rejected_data() {
        QTest::addColumn<QByteArray>("bytes");
        DFU::DfuSe::Target t;
        t.elements = {{flash_base, QByteArray(64, '\x5A')}};
        const QByteArray good = DFU::DfuSe::make_file({t}, 0x0483, 0xdf11);

        QTest::newRow("empty") << QByteArray();
        QTest::newRow("only a suffix") << good.right(16);
        QByteArray crc = good;
        crc[40] = static_cast<char>(crc[40] ^ 1);
        QTest::newRow("one bit flipped") << crc;
        QTest::newRow("cut short by one byte") << good.left(good.size() - 1);
        QByteArray signature = good;
        signature[0] = 'X';
        QTest::newRow("no DfuSe signature") << signature;
        // Element size claims more than the target holds; CRC recomputed so only the size is wrong.
        QByteArray oversized = good.left(good.size() - 16);
        const int size_at = 11 + 274 + 4;
        oversized[size_at] = static_cast<char>(0xFF);
        oversized[size_at + 1] = static_cast<char>(0xFF);
        QTest::newRow("element larger than its target") << reseal(oversized);
        QByteArray many_targets = good.left(good.size() - 16);
        many_targets[10] = 7;
        QTest::newRow("more targets than the file holds") << reseal(many_targets);
    }
    void malformed_files_are_rejected() {
        QFETCH(QByteArray, bytes);
        const DFU::DfuSe::File f = DFU::DfuSe::parse(bytes);
        QVERIFY(!f.valid);
        QVERIFY(!f.error.isEmpty());
        QVERIFY(f.targets.empty());
    }

private:
    // Appends a correct suffix to a body, so that only the body's fault remains.
    static QByteArray reseal(const QByteArray& body) {
        QByteArray out = body;
        const char tail[] = {'\xFF', '\xFF', '\x11', '\xdf', '\x83', '\x04', '\x1A', '\x01', 'U', 'F', 'D', 16};
        out.append(tail, sizeof tail);
        const quint32 crc = DFU::DfuSe::suffix_crc(out);
        for (int i = 0; i < 4; ++i)
            out.append(static_cast<char>((crc >> (8 * i)) & 0xFF));
        return out;
    }
};

QTEST_GUILESS_MAIN(TestDfuseFile)
#include "test_dfuse_file.moc"
