// The OTP record: which slot is the current record, which records make a unit usable, the two
// info messages, images cut at any length, and the text form.

#include "device/otp_info.h"

#include "file_contents.h"
#include "message_log.h"

#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <vector>

using namespace Device;

using Tail = std::array<quint8, 8>;
Q_DECLARE_METATYPE(Tail)
Q_DECLARE_METATYPE(Device::OTP_Info)

namespace {
const QByteArray marker("\x11\x47\x23\x01", 4);
const QByteArray tail_bytes("\x00\x11\x22\x33\x44\x55\x66\xff", 8);
const Tail tail_values{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xff};
const Tail zero_tail{};
const QString not_used = "Device not used, has invalid info in its OTP info.";

QByteArray record(const char (&product)[5], const QByteArray& tail = tail_bytes) {
    return marker + QByteArray(product, 4) + tail;
}

// A blank OTP area of `size` bytes with `bytes` written at each offset.
QByteArray area(const std::vector<std::pair<int, QByteArray>>& parts, int size = 512) {
    QByteArray img(std::max(size, 528), '\xff');
    for (const auto& [at, bytes] : parts)
        img.replace(at, bytes.size(), bytes);
    return img.left(size);
}
} // namespace

class TestOtpInfo : public QObject {
    Q_OBJECT
private slots:
    void parse_data() {
        QTest::addColumn<QByteArray>("img");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("raw_type");
        QTest::addColumn<QString>("product_name");
        QTest::addColumn<Tail>("tail");
        QTest::addColumn<QStringList>("messages");
        const QStringList none;

        // No usable record: the invalid value and no message.
        QTest::newRow("blank area") << area({}) << false << 0 << 0 << "N/A" << zero_tail << none;
        QTest::newRow("zeroed area")
            << QByteArray(512, '\0') << false << 0 << 0 << "N/A" << zero_tail << none;

        // Which slot holds the current record.
        QTest::newRow("slot 0") << area({{0, record("\x03\xff\xff\xff")}}) << true << 3 << 3
                                << "Lumo-7" << tail_values << none;
        QTest::newRow("slots 0 and 1: the last one")
            << area({{0, record("\x03\xff\xff\xff")}, {16, record("\x2b\xff\xff\xff")}}) << true
            << 43 << 43 << "K5" << tail_values << none;
        QTest::newRow("slot 31") << area({{0, record("\x03\xff\xff\xff")},
                                          {496, record("\x84\x01\x02\x03")}})
                                 << true << 132 << 132 << "R3" << tail_values << none;
        QTest::newRow("marker at 500 spoils a good slot 0")
            << area({{0, record("\x03\xff\xff\xff")}, {500, marker}}) << false << 0 << 0 << "N/A"
            << zero_tail << none;
        QTest::newRow("marker bytes in the tail of the last record")
            << area({{0, record("\x03\xff\xff\xff", marker + marker)}}) << false << 0 << 0 << "N/A"
            << zero_tail << none;
        QTest::newRow("aligned record beyond 496 in a longer image")
            << area({{0, record("\x03\xff\xff\xff")}, {512, record("\x03\xff\xff\xff")}}, 528)
            << false << 0 << 0 << "N/A" << zero_tail << none;

        // Records that name no product or an unknown one.
        QTest::newRow("erased product bytes")
            << area({{0, record("\x03\xff\xff\xff")}, {32, record("\xff\xff\xff\xff")}}) << false
            << 255 << 255 << "?" << tail_values << QStringList{not_used};
        QTest::newRow("zero product bytes") << area({{0, record("\x00\x00\x00\x00")}}) << false << 0
                                            << 0 << "N/A" << tail_values << QStringList{not_used};
        QTest::newRow("type 254 itself")
            << area({{0, record("\xfe\x01\xff\xff")}}) << false << 0 << 254 << "N/A" << tail_values
            << QStringList{"Unknown device type according to OTP info,  "
                           "\"ProductInfo: unknown (254) [fe 01 ff ff]\""};
        QTest::newRow("type 1 without row is not in the table")
            << area({{0, record("\x01\xff\xff\xff")}}) << false << 0 << 1 << "N/A" << tail_values
            << QStringList{"Unknown device type according to OTP info,  "
                           "\"ProductInfo: unknown (254) [01 ff ff ff]\""};

        // The tail whatever its value.
        QTest::newRow("erased tail")
            << area({{0, record("\x03\xff\xff\xff", QByteArray(8, '\xff'))}}) << true << 3 << 3
            << "Lumo-7" << Tail{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff} << none;
    }
    void parse() {
        QFETCH(QByteArray, img);
        QFETCH(bool, valid);
        QFETCH(int, type);
        QFETCH(int, raw_type);
        QFETCH(QString, product_name);
        QFETCH(Tail, tail);
        QFETCH(QStringList, messages);
        MessageLog log;
        const OTP_Info info = make_OTP_Info(img);
        QCOMPARE(info.valid, valid);
        QCOMPARE(int(info.product.type), type);
        QCOMPARE(info.product.raw_type, raw_type);
        QCOMPARE(info.product_name(), product_name);
        QVERIFY(info.tail == tail);
        QCOMPARE(log.texts(QtInfoMsg), messages);
        QCOMPARE(log.texts().size(), messages.size());
    }

    void unknown_type_keeps_its_bytes() {
        const OTP_Info info = make_OTP_Info(area({{0, record("\x2a\x01\x02\x03")}}));
        QCOMPARE(int(info.product.type), int(invalid));
        QCOMPARE(info.product.byte1, quint8(1));
        QCOMPARE(info.product.byte2, quint8(2));
        QCOMPARE(info.product.byte3, quint8(3));
    }

    // Records in slot 0 and slot 31; every prefix of that area. The marker at 496 takes over
    // as soon as it is whole, and makes the image invalid until its record is whole too.
    void truncated_images_of_any_length() {
        const QByteArray full =
            area({{0, record("\x03\xff\xff\xff")}, {496, record("\x2b\xff\xff\xff")}});
        for (int size = 0; size <= full.size(); ++size) {
            const QByteArray cut(full.constData(), size); // a detached, exact-size copy
            const OTP_Info info = make_OTP_Info(cut);
            const int expected = size >= 512 ? 43 : (size >= 16 && size < 500) ? 3 : 0;
            if (int(info.product.type) != expected || info.valid != (expected != 0))
                QFAIL(qPrintable(QString("size %1: %2").arg(size).arg(QString(info))));
        }
    }

    void text_form_data() {
        QTest::addColumn<OTP_Info>("info");
        QTest::addColumn<QString>("text");
        QTest::newRow("first product")
            << make_OTP_Info(area({{0, record("\x03\xff\xff\xff")}}))
            << "OTP info:\nMarker valid\nProduct: ProductInfo: VELK (3)\n";
        QTest::newRow("product bytes set")
            << make_OTP_Info(area({{0, record("\x2b\x01\x0a\xff")}}))
            << "OTP info:\nMarker valid\nProduct: ProductInfo: RAMO (43) [2b 01 0a ff]\n";
        QTest::newRow("erased record")
            << make_OTP_Info(area({{0, record("\xff\xff\xff\xff")}}))
            << "OTP info:\nMarker invalid\nProduct: ProductInfo: undefined (255)\n";
    }
    void text_form() {
        QFETCH(OTP_Info, info);
        QFETCH(QString, text);
        QCOMPARE(QString(info), text);
    }

    void debug_stream_writes_unquoted_and_restores_quoting() {
        MessageLog log;
        qDebug() << OTP_Info() << QString("q");
        QCOMPARE(
            log.texts(QtDebugMsg),
            QStringList{"OTP info:\nMarker invalid\nProduct: ProductInfo: invalid (0)\n \"q\""});
    }

    void files() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString good = dir.filePath("otp.bin");
        QVERIFY(write_all(good, area({{48, record("\x84\xff\xff\xff")}})));
        MessageLog log;
        const OTP_Info read = make_OTP_Info(good);
        QVERIFY(read.valid);
        QCOMPARE(read.product_name(), QString("R3"));

        QVERIFY(!make_OTP_Info(dir.filePath("missing.bin")).valid);
        QCOMPARE(make_OTP_Info("/nonexistent/otp.bin").valid, false); // a literal is a path
        QCOMPARE(log.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestOtpInfo)
#include "test_otp_info.moc"
