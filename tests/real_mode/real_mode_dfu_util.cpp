// The dfu-util 0.9 that the program carries, run directly against virtual units: its -p selects
// the unit of one port among several (also behind a hub, also where two units share a serial,
// as ST's bootloaders may), and it keeps the bootloader's protocol: it waits the poll timeouts
// the unit announces, erases every page before it writes it, and leaves or resets the unit when
// told to.

#include "fake_dfu_util.h"
#include "file_contents.h"
#include "program_run.h"
#include "testbed.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace Device::memory_map;

namespace {

const QString dfu_util = QStringLiteral(ORVANTA_GENERATED_RESOURCES "/dfu_util_linux/dfu-util");
const QString otp_region = region_text(otp_address, otp_length);

// Each unit's own OTP area: a Lumo-7 record, then the unit's number.
QByteArray otp_of(int unit) {
    return FakeDfuUtil::otp_image({Device::VELK}).replace(100, 1, QByteArray(1, char(unit)));
}

QByteArray erased_flash_from(const QByteArray& image) {
    return image + QByteArray(static_cast<int>(flash_size) - image.size(), '\xFF');
}

// The ports and serials of a listing, one entry per unit: "1-2 3776367B3036".
QStringList listed_units(const QByteArray& listing) {
    static const QRegularExpression line(
        QStringLiteral("^Found DFU: .* path=\"([^\"]+)\", alt=0, .* serial=\"([^\"]+)\"$"),
        QRegularExpression::MultilineOption);
    QStringList units;
    for (auto m = line.globalMatch(QString::fromUtf8(listing)); m.hasNext();) {
        const QRegularExpressionMatch found = m.next();
        units << found.captured(1) + ' ' + found.captured(2);
    }
    return units;
}

} // namespace

class RealModeDfuUtil : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() {
        if (!virtual_unit::Testbed::unavailable().isEmpty())
            QSKIP(qPrintable("real mode cannot run here: " + virtual_unit::Testbed::unavailable()));
        QVERIFY(QFile::copy(":resources/firmware.dfu", path("firmware.dfu")));
    }
    void cleanup() { QFile::remove(path("otp.bin")); }

    void port_selects_one_unit_data() {
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QStringList>("serials");
        QTest::addColumn<int>("chosen"); // the index of the port written; -1: an empty port
        const QStringList three{"3776367B3036", "206A35744E4B", "3776367B3137"};
        QTest::newRow("the middle one of three") << QStringList{"1-1", "1-2", "1-3"} << three << 1;
        QTest::newRow("behind a hub") << QStringList{"1-1.1", "1-1.2", "1-2"} << three << 1;
        QTest::newRow("two units, one serial")
            << QStringList{"1-1", "1-2"} << QStringList{"3776367B3036", "3776367B3036"} << 1;
        QTest::newRow("eight units, the last written")
            << QStringList{"1-1", "1-2", "1-3", "1-4.1", "1-4.2", "1-4.3", "1-4.4", "1-5"}
            << QStringList{"A1", "A2", "A3", "A4", "A5", "A6", "A7", "A8"} << 7;
        QTest::newRow("no unit on that port")
            << QStringList{"1-1", "1-2"} << QStringList(three.mid(0, 2)) << -1;
    }

    // The listing names every unit with its port; an upload through -p reads the unit of that
    // port, each in turn, and a download through it writes the chosen unit alone.
    void port_selects_one_unit() {
        QFETCH(QStringList, ports);
        QFETCH(QStringList, serials);
        QFETCH(int, chosen);
        virtual_unit::Testbed bed;
        QStringList expected;
        for (int i = 0; i < ports.size(); ++i) {
            bed.plug(ports[i], serials[i]).set_memory(otp_alt, otp_of(i));
            expected << ports[i] + ' ' + serials[i];
        }
        const QProcessEnvironment preloaded = bed.dfu_util_environment();
        const ProgramRun listing = run_program(dfu_util, {"-d", "0483", "-l"}, preloaded);
        QCOMPARE(listing.exit_code, 0);
        QCOMPARE(listed_units(listing.out), expected); // in the order of their ports
        for (int i = 0; i < ports.size(); ++i) {
            QFile::remove(path("otp.bin"));
            const QStringList read{"-d", "0483", "-p",       ports[i], "-a",
                                   "2",  "-s",   otp_region, "-U",     path("otp.bin")};
            QCOMPARE(run_program(dfu_util, read, preloaded).exit_code, 0);
            QVERIFY2(read_all(path("otp.bin")) == otp_of(i), qPrintable(ports[i]));
        }
        const QString port = chosen >= 0 ? ports[chosen] : QStringLiteral("1-7");
        const ProgramRun write = run_program(
            dfu_util, {"-d", "0483", "-p", port, "-a", "0", "-D", path("firmware.dfu")}, preloaded);
        qInfo().noquote() << "dfu-util said:"
                          << (chosen >= 0 ? write.out : write.err).trimmed().split('\n').last();
        QCOMPARE(write.exit_code, chosen >= 0 ? 0 : 74);
        if (chosen < 0)
            QCOMPARE(write.err, QByteArray("dfu-util: No DFU capable USB device available\n"));
        for (int i = 0; i < ports.size(); ++i) {
            const virtual_unit::Unit& unit = *bed.unit(ports[i]);
            QCOMPARE(unit.tally().upload_blocks, 1);
            QCOMPARE(unit.memory(flash_alt) == erased_flash_from(FakeDfuUtil::desired_firmware()),
                     i == chosen);
        }
    }

    void keeps_the_protocol_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("leaves");
        QTest::addColumn<int>("resets");
        const QStringList download{"-d", "0483", "-a", "0", "-D", "firmware.dfu"};
        QTest::newRow("download over an older image") << download << false << 0;
        QTest::newRow("download, then leave")
            << QStringList{"-d", "0483", "-a", "0", "-s", ":leave", "-D", "firmware.dfu"} << true
            << 0;
        QTest::newRow("upload, then a USB reset")
            << QStringList{"-d", "0483", "-a", "2", "-s", otp_region, "-R", "-U", "otp.bin"}
            << false << 1;
    }

    // With busy times announced as on a unit: dfu-util never polls before they pass, erases
    // each page before writing it, and leaves the bootloader only when told to.
    void keeps_the_protocol() {
        QFETCH(QStringList, args);
        QFETCH(bool, leaves);
        QFETCH(int, resets);
        virtual_unit::Testbed bed;
        virtual_unit::Unit& unit = bed.plug("1-1", "3776367B3036");
        unit.set_memory(otp_alt, otp_of(0));
        unit.set_memory(flash_alt, FakeDfuUtil::flash_image({Device::VELK}, "B7", 600000));
        virtual_unit::Timing timing;
        timing.erase_page_ms = 40;
        timing.write_ms = 2;
        unit.set_timing(timing);
        for (QString& arg : args)
            if (arg.contains('.'))
                arg = path(arg);

        const ProgramRun run = run_program(dfu_util, args, bed.dfu_util_environment());
        qInfo().noquote() << "dfu-util said:" << run.out.trimmed().split('\n').last();
        QCOMPARE(run.exit_code, 0);
        const virtual_unit::Tally tally = unit.tally();
        QCOMPARE(tally.early_polls, 0);
        QCOMPARE(tally.bytes_over_unerased, 0);
        QCOMPARE(tally.usb_resets, resets);
        QCOMPARE(unit.left(), leaves);
        QCOMPARE(bed.attached("1-1"), !leaves);
        if (!args.contains("-D"))
            return;
        // The pages the image touches: four of 16 KiB, one of 64 KiB, three of 128 KiB. The old
        // image's bytes beyond them stay.
        QCOMPARE(tally.page_erases, 8);
        const QByteArray flash = unit.memory(flash_alt);
        QVERIFY(flash.left(400308) == FakeDfuUtil::desired_firmware());
        QVERIFY(flash.mid(400308, 524288 - 400308) == QByteArray(524288 - 400308, '\xFF'));
        QVERIFY(flash.mid(524288, 600000 - 524288) ==
                FakeDfuUtil::flash_image({Device::VELK}, "B7", 600000).mid(524288));
    }
};

QTEST_GUILESS_MAIN(RealModeDfuUtil)
#include "real_mode_dfu_util.moc"
