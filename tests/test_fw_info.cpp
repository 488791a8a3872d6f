// The firmware-information block: finding and checking the markers, the text fields and the
// pair list, images cut at any length, and the text form.

#include "device/fw_info.h"

#include "file_contents.h"
#include "message_log.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

using namespace Device;

Q_DECLARE_METATYPE(Device::FW_Info)

namespace {
const QByteArray begin_marker("\x12\x47\x23\x01", 4);
const QByteArray end_marker("\x13\x47\x23\x01", 4);
const QByteArray velk("\x03\xff\xff\xff", 4);

// A 32-byte text field: the text, then NUL padding (none if the text fills all 32 bytes).
QByteArray field(const QByteArray& text) {
    QByteArray f = text.left(32);
    f.append(QByteArray(32 - f.size(), '\0'));
    return f;
}

using RawPairs = std::vector<std::pair<QByteArray, QByteArray>>;

// A whole block, begin marker to end marker included.
QByteArray block(const RawPairs& pairs = {}, const QByteArray& name = "LUMO7",
                 const QByteArray& revision = "B8", const QByteArray& product = velk) {
    QByteArray b = begin_marker + product + field(name) + field(revision);
    for (const auto& [n, v] : pairs)
        b += field(n) + field(v);
    return b + end_marker;
}

// An erased flash image of `size` bytes with `bytes` written at each offset.
QByteArray image(int size, const std::vector<std::pair<int, QByteArray>>& parts) {
    QByteArray img(size, '\xff');
    for (const auto& [at, bytes] : parts)
        img.replace(at, bytes.size(), bytes);
    return img.left(size);
}

QStringList flat(const FW_Details& details) {
    QStringList out;
    for (const auto& [n, v] : details)
        out << n + '=' + v;
    return out;
}

// The desired firmware's text form, columns of 31 characters.
const QString desired_text =
    QStringLiteral("FW info:\n"
                   "  Type: ProductInfo: VELK (3)\n"
                   "  Name: LUMO7\n"
                   "  Rev.: B8\n"
                   "  Details:"
                   "\n    Creation date                  : 2026-11-23                     "
                   "\n    Creation time                  : 14:32:07                       "
                   "\n    Git hash of FW                 : a3f9c41e7d2b                   "
                   "\n    Git hash of PL                 : 5be2907c11fa                   "
                   "\n    Git hash of IG                 : 0d7c3a9e4418                   "
                   "\n    Git hash of PL/IG              : 77a1e6d03c52                   "
                   "\n    Git hash of L3                 : c94b2f18e6a0                   "
                   "\n    Git tag                        : LUMO7-B8                       "
                   "\n    Firmware compiler version      : arm-none-eabi-gcc 10.3.1       ");
} // namespace

class TestFwInfo : public QObject {
    Q_OBJECT
private slots:
    // The shipped firmware, read by path (a string literal picks the path overload).
    void desired_firmware() {
        const FW_Info info = make_FW_Info(":resources/firmware.bin");
        QVERIFY(info.valid);
        QCOMPARE(QString(info), desired_text);
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("img");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("revision");
        QTest::addColumn<QStringList>("details");
        QTest::addColumn<QStringList>("messages");
        const QStringList none;
        const RawPairs three{{"Creation date", "2026-11-23"},
                             {"Creation time", "14:32:07"},
                             {"Git tag", "LUMO7-B8"}};

        // Missing markers, images of any length.
        QTest::newRow("three bytes of a marker")
            << begin_marker.left(3) << false << ""
            << "" << none << QStringList{"index_beg =  -1 index_end =  -1"};
        QTest::newRow("no end marker")
            << image(2048, {{428, block(three).chopped(4)}}) << false << ""
            << "" << none << QStringList{"index_beg =  428 index_end =  -1"};
        QTest::newRow("no begin marker")
            << image(2048, {{428, block(three).mid(4)}}) << false << ""
            << "" << none << QStringList{"index_beg =  -1 index_end =  688"};
        QTest::newRow("begin marker ends the image")
            << image(2048, {{2044, begin_marker}}) << false << ""
            << "" << none << QStringList{"index_beg =  2044 index_end =  -1"};
        QTest::newRow("end marker cut by the end of the image")
            << image(72 + 3, {{0, block()}}) << false << ""
            << "" << none << QStringList{"index_beg =  0 index_end =  -1"};
        QTest::newRow("end marker ends the image")
            << image(428 + 76, {{428, block()}}) << true << "LUMO7"
            << "B8" << none << none;

        // Distance between the markers.
        QTest::newRow("markers 72 apart, no pairs")
            << image(2048, {{0, block()}}) << true << "LUMO7"
            << "B8" << none << none;
        QTest::newRow("markers 100 apart")
            << image(2048, {{0, begin_marker}, {100, end_marker}}) << false << ""
            << "" << none << QStringList{"index_beg =  0 index_end =  100 nr_of_pair_bytes = 28"};
        QTest::newRow("end before begin")
            << image(2048, {{300, begin_marker}, {100, end_marker}}) << false << ""
            << "" << none
            << QStringList{"index_beg =  300 index_end =  100 nr_of_pair_bytes = -272"};
        QTest::newRow("end 8 after begin: -64 pair bytes")
            << image(2048, {{300, begin_marker}, {308, end_marker}}) << false << ""
            << "" << none
            << QStringList{"index_beg =  300 index_end =  308 nr_of_pair_bytes = -64"};

        // The 1948 bounds, checked before the distance and without a message.
        QTest::newRow("end marker at 1948") << image(2048, {{1876, block()}}) << true << "LUMO7"
                                            << "B8" << none << none;
        QTest::newRow("end marker at 1949") << image(2048, {{1877, block()}}) << false << ""
                                            << "" << none << none;
        QTest::newRow("begin marker beyond 1948, end before it")
            << image(2048, {{1949, begin_marker}, {100, end_marker}}) << false << ""
            << "" << none << none;

        // First occurrences count, from the start of the image.
        QTest::newRow("first of two begin markers")
            << image(2048, {{0, block({{"Creation date", "x"}})}, {64, begin_marker}}) << true
            << "LUMO7"
            << "B8" << QStringList{"Creation date=x"} << none;
        QTest::newRow("end marker bytes in the product string")
            << image(2048, {{428, block(three, end_marker + "X")}}) << false << ""
            << "" << none
            << QStringList{"index_beg =  428 index_end =  436 nr_of_pair_bytes = -64"};
        QTest::newRow("end marker bytes before the block")
            << image(2048, {{10, end_marker}, {428, block(three)}}) << false << ""
            << "" << none
            << QStringList{"index_beg =  428 index_end =  10 nr_of_pair_bytes = -490"};

        // The pair list stops at the first empty name or value.
        QTest::newRow("three pairs")
            << image(2048, {{428, block(three)}}) << true << "LUMO7"
            << "B8"
            << QStringList{"Creation date=2026-11-23", "Creation time=14:32:07", "Git tag=LUMO7-B8"}
            << none;
        QTest::newRow("second value empty")
            << image(2048, {{428, block({three[0], {"Creation time", ""}, three[2]})}}) << true
            << "LUMO7"
            << "B8" << QStringList{"Creation date=2026-11-23"} << none;
        QTest::newRow("second name empty")
            << image(2048, {{428, block({three[0], {"", "14:32:07"}, three[2]})}}) << true
            << "LUMO7"
            << "B8" << QStringList{"Creation date=2026-11-23"} << none;
        QTest::newRow("first pair empty")
            << image(2048, {{428, block({{"", ""}, three[1], three[2]})}}) << true << "LUMO7"
            << "B8" << none << none;
        QTest::newRow("third name without NUL")
            << image(2048, {{428, block({three[0], three[1], {QByteArray(32, 'n'), "v"}})}}) << true
            << "LUMO7"
            << "B8" << QStringList{"Creation date=2026-11-23", "Creation time=14:32:07"} << none;

        // Text fields.
        QTest::newRow("product string without NUL")
            << image(2048, {{428, block(three, QByteArray(32, 'L'))}}) << true << ""
            << "B8"
            << QStringList{"Creation date=2026-11-23", "Creation time=14:32:07", "Git tag=LUMO7-B8"}
            << none;
        QTest::newRow("31-byte product string")
            << image(2048, {{428, block({}, QByteArray(31, 'L'))}}) << true << QString(31, 'L')
            << "B8" << none << none;
        QTest::newRow("empty revision")
            << image(2048, {{428, block({}, "LUMO7", "")}}) << true << "LUMO7"
            << "" << none << none;
        QTest::newRow("UTF-8 texts") << image(2048, {{428, block({{"Gr\xc3\xb6\xc3\x9f"
                                                                   "e",
                                                                   "\xe2\x82\xac"}},
                                                                 "LUMO7")}})
                                     << true << "LUMO7"
                                     << "B8" << QStringList{QString::fromUtf8("Größe=€")} << none;
    }
    void parse() {
        QFETCH(QByteArray, img);
        QFETCH(bool, valid);
        QFETCH(QString, name);
        QFETCH(QString, revision);
        QFETCH(QStringList, details);
        QFETCH(QStringList, messages);
        MessageLog log;
        const FW_Info info = make_FW_Info(img);
        QCOMPARE(info.valid, valid);
        QCOMPARE(info.name, name);
        QCOMPARE(info.revision, revision);
        QCOMPARE(flat(info.details), details);
        QCOMPARE(log.texts(), messages);
        if (!valid) {
            QCOMPARE(info.product, ProductInfo());
            QCOMPARE(info.product.raw_type, 0);
            QVERIFY(info.name.isNull());
            QVERIFY(info.revision.isNull());
        }
    }

    // Distinct bytes, so that a wrong offset or byte order shows.
    void product_bytes_are_read() {
        const QByteArray product("\x2b\x01\x02\x03", 4);
        const FW_Info info = make_FW_Info(image(2048, {{428, block({}, "X", "Y", product)}}));
        QVERIFY(info.valid);
        QCOMPARE(QString(info.product), QString("ProductInfo: RAMO (43) [2b 01 02 03]"));
    }

    // Every prefix of the firmware's first 2048 bytes: only those holding the end marker
    // whole give the record, the others the default, and none reads past its end (the
    // sanitizer build checks that).
    void truncated_images_of_any_length() {
        const QByteArray head = read_all(":resources/firmware.bin").left(2048);
        QCOMPARE(head.size(), 2048);
        const FW_Info whole = make_FW_Info(head);
        QVERIFY(whole.valid);
        QLoggingCategory::setFilterRules("default.debug=false");
        for (int size = 0; size <= head.size(); ++size) {
            // Detached copies, so that nothing after `size` bytes is addressable.
            const QByteArray cut(head.constData(), size);
            const FW_Info info = make_FW_Info(cut);
            if (info.valid != (size >= 1080))
                QFAIL(qPrintable(QString("size %1").arg(size)));
            if (info.valid && QString(info) != QString(whole))
                QFAIL(qPrintable(QString("size %1").arg(size)));
        }
        QLoggingCategory::setFilterRules(QString());
    }

    void get_string_data() {
        QTest::addColumn<QByteArray>("img");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("is_null");
        QTest::newRow("text and NUL") << field("abc") << 0 << "abc" << false;
        QTest::newRow("NUL first") << field("") << 0 << "" << false;
        QTest::newRow("31 bytes and NUL")
            << field(QByteArray(31, 'a')) << 0 << QString(31, 'a') << false;
        QTest::newRow("NUL only in the 33rd byte") << QByteArray(32, 'a') + '\0' << 0 << "" << true;
        QTest::newRow("bytes after the NUL ignored")
            << QByteArray("ab\0cd", 5) + QByteArray(27, '\0') << 0 << "ab" << false;
        QTest::newRow("cut by the end of the image") << QByteArray("xyzabc") << 3 << "abc" << false;
        QTest::newRow("offset at the end") << QByteArray("xyz") << 3 << "" << true;
        QTest::newRow("negative offset") << field("abc") << -1 << "" << true;
    }
    void get_string() {
        QFETCH(QByteArray, img);
        QFETCH(int, offset);
        QFETCH(QString, text);
        QFETCH(bool, is_null);
        const QString got = Device::get_string(img, offset);
        QCOMPARE(got, text);
        QCOMPARE(got.isNull(), is_null);
    }

    void local_strlen_data() {
        QTest::addColumn<int>("nul_at");
        QTest::addColumn<int>("length");
        QTest::newRow("NUL first") << 0 << 0;
        QTest::newRow("NUL in the middle") << 5 << 5;
        QTest::newRow("NUL last") << 31 << 31;
        QTest::newRow("no NUL") << -1 << -1;
    }
    void local_strlen() {
        QFETCH(int, nul_at);
        QFETCH(int, length);
        // Exactly 32 bytes on the heap: a read beyond them shows in the sanitizer build.
        std::vector<char> f(32, 'x');
        if (nul_at >= 0)
            f[std::size_t(nul_at)] = '\0';
        QCOMPARE(Device::local_strlen(f.data()), length);
    }

    void text_form_data() {
        QTest::addColumn<FW_Info>("info");
        QTest::addColumn<QString>("text");
        FW_Info invalid_with_data;
        invalid_with_data.name = "LUMO7";
        QTest::newRow("invalid hides its fields") << invalid_with_data << "FW info:\n\tInvalid";
        FW_Info empty;
        empty.valid = true;
        QTest::newRow("valid without pairs")
            << empty
            << "FW info:\n  Type: ProductInfo: invalid (0)\n  Name: \n  Rev.: \n  Details:";
        FW_Info wide = empty;
        wide.product.type = SUND;
        wide.product.byte1 = 0x0c;
        wide.product.raw_type = 132;
        wide.name = "R3";
        wide.revision = "A1";
        wide.details = {{QString(40, 'n'), "v"}, {"k", QString(35, 'w')}};
        QTest::newRow("long texts are not cut")
            << wide
            << "FW info:\n  Type: ProductInfo: SUND (132) [84 0c ff ff]\n  Name: R3\n  Rev.: A1\n"
               "  Details:\n    " +
                   QString(40, 'n') + ": v" + QString(30, ' ') + "\n    k" + QString(30, ' ') +
                   ": " + QString(35, 'w');
    }
    void text_form() {
        QFETCH(FW_Info, info);
        QFETCH(QString, text);
        QCOMPARE(QString(info), text);
    }

    void debug_stream_writes_unquoted_and_restores_quoting() {
        MessageLog log;
        qDebug() << FW_Info() << QString("q");
        QCOMPARE(log.texts(QtDebugMsg), QStringList{"FW info:\n\tInvalid \"q\""});
    }

    void unreadable_files_give_the_default() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        MessageLog log;
        QVERIFY(!make_FW_Info(dir.filePath("missing.bin")).valid);
        QVERIFY(!make_FW_Info(dir.path()).valid);
        QCOMPARE(log.texts(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFwInfo)
#include "test_fw_info.moc"
