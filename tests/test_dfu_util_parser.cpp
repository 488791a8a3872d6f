// The device listing: which listings count as exactly one unit, the serials taken from them,
// the scan built on them, and the text form of what is read from a unit.

#include "dfu/device_info.h"
#include "dfu/dfu_util.h"
#include "dfu/dfu_util_parser.h"
#include "dfu/scan.h"
#include "fake_dfu_util.h"
#include "message_log.h"

#include <QtTest>

namespace {

const QString A = QStringLiteral("3776367B3036");
const QString B = QStringLiteral("2052327A4B31");

QString line(const QString& serial, int alt, int devnum = 5, const QString& end = "\n") {
    return FakeDfuUtil::listing_line(serial, alt, devnum, end);
}

// A unit's lines, highest alternate setting first.
QString unit(const QString& serial, int devnum = 5, const QString& end = "\n") {
    QString text;
    for (int alt = 3; alt >= 0; --alt)
        text += line(serial, alt, devnum, end);
    return text;
}

QString listing(const QString& lines) {
    return DFU::dfu_util::expected_output_of_execution_test + lines;
}

const QString other_vendor =
    QStringLiteral("Found DFU: [1d50:6017] ver=0100, devnum=9, cfg=1, intf=0, path=\"2-3\", alt=0, "
                   "name=\"Black Magic Firmware Upgrade\", serial=\"E2C0C4C6\"\n");
const QString runtime_mode = QStringLiteral(
    "Found Runtime: [0483:df11] ver=2200, devnum=7, cfg=1, intf=0, path=\"1-4\", alt=0, "
    "name=\"UNKNOWN\", serial=\"3776367B3036\"\n");

} // namespace

Q_DECLARE_METATYPE(DfuUtilParser::Status)

class TestDfuUtilParser : public QObject {
    Q_OBJECT
private slots:
    void parses_listings_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<DfuUtilParser::Status>("status");
        QTest::addColumn<QStringList>("serials");
        QTest::addColumn<int>("debug_messages");

        const auto no = DfuUtilParser::no_dfu_device;
        const auto one = DfuUtilParser::one_dfu_device;
        const auto invalid = DfuUtilParser::invalid_dfu_device;
        const auto multiple = DfuUtilParser::multiple_dfu_devices;

        QTest::newRow("banner only, no unit") << listing("") << no << QStringList() << 0;
        QTest::newRow("one unit") << listing(unit(A)) << one << QStringList{A} << 0;
        QTest::newRow("one unit without banner") << unit(A) << one << QStringList{A} << 0;
        QTest::newRow("three lines")
            << listing(line(A, 3) + line(A, 2) + line(A, 1)) << invalid << QStringList{A} << 0;
        QTest::newRow("five lines")
            << listing(unit(A) + line(A, 0)) << invalid << QStringList{A} << 0;
        QTest::newRow("two units, A then B")
            << listing(unit(A, 6) + unit(B, 5)) << multiple << QStringList{A, B} << 0;
        QTest::newRow("units A, B, A") << listing(unit(A, 5) + unit(B, 6) + unit(A, 7)) << multiple
                                       << QStringList{A, B, A} << 0;
        QTest::newRow("other vendors and runtime mode mixed in")
            << listing(other_vendor + line(A, 3) + runtime_mode + line(A, 2) + line(A, 1) +
                       other_vendor + line(A, 0) + runtime_mode)
            << one << QStringList{A} << 0;
        QTest::newRow("only other vendors and runtime mode")
            << listing(other_vendor + runtime_mode) << no << QStringList() << 0;
        QString release_2201 = unit(A);
        release_2201.replace("ver=2200", "ver=2201");
        QTest::newRow("release 2201 ignored") << listing(release_2201) << no << QStringList() << 0;
        QString upper_product = unit(A);
        upper_product.replace("df11", "DF11");
        QTest::newRow("product DF11 ignored") << listing(upper_product) << no << QStringList() << 0;
        QString indented = unit(A);
        indented.replace("Found DFU", "  Found DFU");
        QTest::newRow("leading spaces ignored") << listing(indented) << no << QStringList() << 0;
        QTest::newRow("CR LF line ends")
            << listing(unit(A, 5, "\r\n")) << one << QStringList{A} << 0;
        QTest::newRow("last line without line end")
            << listing(unit(A).chopped(1)) << one << QStringList{A} << 0;
        QTest::newRow("empty serial") << listing(unit("")) << one << QStringList{QString()} << 4;
        QTest::newRow("serial partly hexadecimal")
            << listing(unit("37763G")) << one << QStringList{QString()} << 4;
        QTest::newRow("ABC and abc are two units")
            << listing(unit("ABC") + unit("abc")) << multiple << QStringList{"ABC", "abc"} << 0;
        QTest::newRow("empty and hexadecimal serial")
            << listing(unit("") + unit(A)) << multiple << QStringList{QString(), A} << 4;
    }

    // The scan is the parser's verdict reduced to "exactly one usable unit" and its serials.
    void parses_listings() {
        QFETCH(QString, output);
        QFETCH(DfuUtilParser::Status, status);
        QFETCH(QStringList, serials);
        QFETCH(int, debug_messages);

        MessageLog log;
        const DfuUtilParser parser(output);
        QCOMPARE(parser.status, status);
        QCOMPARE(QStringList(parser.serials.begin(), parser.serials.end()), serials);
        QCOMPARE(parser.nr_of_devices, serials.size());
        QCOMPARE(log.texts(QtDebugMsg).size(), debug_messages);
        for (const QString& text : log.texts(QtDebugMsg))
            QVERIFY2(text.startsWith("\"Found DFU: [0483:df11] ver=2200"), qPrintable(text));

        const DFU::Scan scan = DFU::scan_for_devices(output);
        QCOMPARE(scan.status, status == DfuUtilParser::one_dfu_device ? 0 : 1);
        QCOMPARE(FakeDfuUtil::serials(scan), serials);
    }

    // Each entry is a serial at a port and an address: a unit plugged in anew is told apart by
    // its address even where its serial and port are the same.
    void keeps_each_units_port_and_address_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("units"); // serial@port#address, in listing order

        QString without_address = unit(A);
        without_address.replace(", devnum=5,", ",");
        QString out_of_range = unit(A);
        out_of_range.replace("devnum=5,", "devnum=1005,");
        QString replugged = unit(A, 5);
        replugged.replace("devnum=5,", "devnum=9,");
        QTest::newRow("one unit") << listing(unit(A)) << QStringList{A + "@1-1#5"};
        QTest::newRow("two units")
            << listing(unit(A, 6) + unit(B, 5)) << QStringList{A + "@1-2#6", B + "@1-1#5"};
        QTest::newRow("plugged in anew at its port") << listing(replugged)
                                                     << QStringList{A + "@1-1#9"};
        QTest::newRow("no address listed") << listing(without_address)
                                           << QStringList{A + "@1-1#-1"};
        QTest::newRow("no USB address") << listing(out_of_range) << QStringList{A + "@1-1#-1"};
    }

    void keeps_each_units_port_and_address() {
        QFETCH(QString, output);
        QFETCH(QStringList, units);
        QStringList seen;
        for (const DFU::DeviceItem& item : DFU::scan_for_devices(output).devices)
            seen << QString("%1@%2#%3").arg(item.serial, item.path).arg(item.devnum);
        QCOMPARE(seen, units);
    }

    void names_each_status_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("name");
        QTest::newRow("0") << 0 << "no_dfu_device";
        QTest::newRow("1") << 1 << "one_dfu_device";
        QTest::newRow("2") << 2 << "invalid_dfu_device";
        QTest::newRow("3") << 3 << "multiple_dfu_devices";
        QTest::newRow("out of range") << 4 << "";
        QTest::newRow("negative") << -1 << "";
    }

    void names_each_status() {
        QFETCH(int, status);
        QFETCH(QString, name);
        DfuUtilParser parser{QString()};
        parser.status = static_cast<DfuUtilParser::Status>(status);
        QCOMPARE(parser.status_as_string(), name);
    }

    void make_scan_runs_the_listing_data() {
        QTest::addColumn<QStringList>("units");
        QTest::addColumn<bool>("listing_fails");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("serials");
        QTest::newRow("no unit") << QStringList() << false << 1 << QStringList();
        QTest::newRow("one unit") << QStringList{A} << false << 0 << QStringList{A};
        QTest::newRow("two units") << QStringList{B, A} << false << 1 << QStringList{B, A};
        QTest::newRow("listing fails with a unit attached")
            << QStringList{A} << true << 1 << QStringList();
    }

    void make_scan_runs_the_listing() {
        QFETCH(QStringList, units);
        QFETCH(bool, listing_fails);
        QFETCH(int, status);
        QFETCH(QStringList, serials);

        FakeDfuUtil fake;
        QVERIFY(fake.is_valid());
        fake.set_units(units);
        if (listing_fails)
            fake.fail(FakeDfuUtil::Switch::fail_list);
        MessageLog log;

        const DFU::Scan scan = DFU::make_scan();

        QCOMPARE(scan.status, status);
        QCOMPARE(FakeDfuUtil::serials(scan), serials);
        QCOMPARE(DFU::to_QString(scan.failure.cause), QString(listing_fails ? "other" : "none"));
        QCOMPARE(fake.recorded_runs(), (QList<QStringList>{{"-d", "0483", "-l"}}));
        // The listing is polled: it announces nothing, and only a failure is logged.
        QCOMPARE(log.count("Start "), 0);
        QCOMPARE(log.count("Exit with 74"), listing_fails ? 1 : 0);
    }

    void device_info_text_form_data() {
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("revision");
        QTest::addColumn<QString>("text");
        QTest::newRow("invalid keeps its type and revision out") << false << 255 << "B8"
                                                                 << "DeviceInfo:\nInvalid";
        QTest::newRow("first product") << true << 3 << "B8"
                                       << "DeviceInfo:\n\tDevice type:\t3\n\tFW_revision:\tB8\n";
        QTest::newRow("third product, no revision")
            << true << 132 << QString() << "DeviceInfo:\n\tDevice type:\t132\n\tFW_revision:\t\n";
    }

    void device_info_text_form() {
        QFETCH(bool, valid);
        QFETCH(int, type);
        QFETCH(QString, revision);
        QFETCH(QString, text);
        DFU::DeviceInfo info;
        info.valid = valid;
        info.type = static_cast<Device::Type>(type);
        info.FW_revision = revision;
        QCOMPARE(QString(info), text);
    }

    void device_info_default_record() {
        const DFU::DeviceInfo info;
        QVERIFY(!info.valid);
        QVERIFY(info.FW_revision.isEmpty());
        QCOMPARE(info.type, Device::invalid);
        QVERIFY(!info.OTP_info.valid);
        QVERIFY(!info.FW_info.valid);
    }

    // Unquoted, with its tabs and line feeds, and the stream's own settings left as they were.
    void device_info_streams_unquoted_and_restores_the_stream() {
        DFU::DeviceInfo info;
        info.valid = true;
        info.type = Device::VELK;
        info.FW_revision = "B8";
        const QString text = "DeviceInfo:\n\tDevice type:\t3\n\tFW_revision:\tB8\n";

        QString spaced;
        QDebug(&spaced) << info << QStringLiteral("after");
        QCOMPARE(spaced, text + " \"after\" ");

        QString packed;
        QDebug(&packed).nospace() << info << QStringLiteral("after");
        QCOMPARE(packed, text + "\"after\"");

        QString unquoted;
        QDebug(&unquoted).noquote() << QStringLiteral("before") << info << QStringLiteral("after");
        QCOMPARE(unquoted, "before " + text + " after ");
    }
};

QTEST_GUILESS_MAIN(TestDfuUtilParser)
#include "test_dfu_util_parser.moc"
