// The product table, type lookups, and the text and stream forms of ProductInfo.

#include "device/product.h"

#include "message_log.h"

#include <QtTest>

#include <sstream>

using namespace Device;

Q_DECLARE_METATYPE(Device::Type)
Q_DECLARE_METATYPE(Device::ProductInfo)

namespace {
// The type's text from to_QString, to_string and the stream operator (which must write
// nothing more: the '|' after it shows where it stopped).
QStringList texts_of(Type type) {
    std::ostringstream os;
    os << type << '|';
    return {to_QString(type), QString::fromStdString(to_string(type)),
            QString::fromStdString(os.str())};
}
} // namespace

class TestProduct : public QObject {
    Q_OBJECT
private slots:
    // What the lookups, texts, predicates and names make of each code, in the table or not.
    void types_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<Type>("decoded");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("full_name");
        QTest::newRow("invalid") << 0 << invalid << "invalid" << false << false << "N/A"
                                 << "N/A";
        QTest::newRow("undefined") << 255 << undefined << "undefined" << false << false << "?"
                                   << "?";
        QTest::newRow("VELK") << 3 << VELK << "VELK" << true << true << "Lumo-7"
                              << "Lumo-7 SyncX";
        QTest::newRow("RAMO") << 43 << RAMO << "RAMO" << true << true << "K5"
                              << "K5 SyncX";
        QTest::newRow("SUND") << 132 << SUND << "SUND" << true << true << "R3"
                              << "R3 SyncX";
        QTest::newRow("unknown") << 254 << unknown << "unknown" << true << false << "unknown"
                                 << "unknown";
        QTest::newRow("1 has no row") << 1 << unknown << "impossible type" << true << true << ""
                                      << "";
        QTest::newRow("7 has no row") << 7 << unknown << "impossible type" << true << true << ""
                                      << "";
        QTest::newRow("253 has no row") << 253 << unknown << "impossible type" << true << true << ""
                                        << "";
    }
    void types() {
        QFETCH(int, code);
        QFETCH(Type, decoded);
        QFETCH(QString, text);
        const Type type = static_cast<Type>(code);
        QCOMPARE(int(to_Type(static_cast<unsigned char>(code))), int(decoded));
        QCOMPARE(int(to_Type(text)), int(decoded));
        QCOMPARE(texts_of(type), (QStringList{text, text, text + '|'}));
        QTEST(is_valid(type), "valid");
        QTEST(is_known(type), "known");
        QTEST(ProductInfo{type}.product_name(), "name");
        QTEST(ProductInfo{type}.product_name_full(), "full_name");
    }

    void find_overloads_agree_for_every_byte() {
        for (int b = 0; b < 256; ++b) {
            const auto by_type = products.find(static_cast<Type>(b));
            const auto by_byte = products.find(static_cast<unsigned char>(b));
            QCOMPARE(by_type, by_byte);
            const bool has_row = b == 0 || b == 3 || b == 43 || b == 132 || b == 254 || b == 255;
            QVERIFY2((by_type != products.end()) == has_row, qPrintable(QString::number(b)));
            if (has_row) {
                QCOMPARE(int(by_type->type), b);
                QCOMPARE(products.find(by_type->code), by_type);
            }
        }
        QCOMPARE(products.find(QString("velk")), products.end());
        QCOMPARE(products.find(QString()), products.end());
    }

    void type_from_text_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<Type>("type");
        QTest::newRow("null") << QString() << invalid;
        QTest::newRow("empty") << QString("") << invalid;
        QTest::newRow("lower case velk") << QString("velk") << unknown;
        QTest::newRow("trailing space") << QString("RAMO ") << unknown;
        QTest::newRow("marketing name") << QString("Lumo-7") << unknown;
    }
    void type_from_text() {
        QFETCH(QString, code);
        QFETCH(Type, type);
        QCOMPARE(int(to_Type(code)), int(type));
    }

    void text_form_data() {
        QTest::addColumn<ProductInfo>("info");
        QTest::addColumn<QString>("text");
        QTest::newRow("VELK erased")
            << make_ProductInfo({0x03, 0xFF, 0xFF, 0xFF}) << "ProductInfo: VELK (3)";
        QTest::newRow("VELK byte 1 set")
            << make_ProductInfo({0x03, 0x01, 0xFF, 0xFF}) << "ProductInfo: VELK (3) [03 01 ff ff]";
        QTest::newRow("only byte 3 set") << make_ProductInfo({0x84, 0xFF, 0xFF, 0x00})
                                         << "ProductInfo: SUND (132) [84 ff ff 00]";
        QTest::newRow("all erased")
            << make_ProductInfo({0xFF, 0xFF, 0xFF, 0xFF}) << "ProductInfo: undefined (255)";
        QTest::newRow("unknown shows its raw code") << make_ProductInfo({0x2A, 0xFF, 0xFF, 0xFF})
                                                    << "ProductInfo: unknown (254) [2a ff ff ff]";
        QTest::newRow("zeros") << make_ProductInfo({0, 0, 0, 0})
                               << "ProductInfo: invalid (0) [00 00 00 00]";
        QTest::newRow("hex is lower case and padded")
            << make_ProductInfo({0x2B, 0x0A, 0xBC, 0x7F}) << "ProductInfo: RAMO (43) [2b 0a bc 7f]";
        QTest::newRow("default") << ProductInfo() << "ProductInfo: invalid (0)";
        QTest::newRow("type without row")
            << ProductInfo{static_cast<Type>(7)} << "ProductInfo: impossible type (7)";
        // How the window title builds one from the desired firmware's type.
        QTest::newRow("type only") << ProductInfo{VELK} << "ProductInfo: VELK (3)";
    }
    void text_form() {
        QFETCH(ProductInfo, info);
        QFETCH(QString, text);
        QCOMPARE(QString(info), text);
    }

    void equality_ignores_only_raw_code_data() {
        QTest::addColumn<ProductInfo>("a");
        QTest::addColumn<ProductInfo>("b");
        QTest::addColumn<bool>("equal");
        const ProductInfo base = make_ProductInfo({0x03, 0x10, 0x20, 0x30});
        ProductInfo other = base;
        other.raw_type = 77;
        QTest::newRow("raw code differs") << base << other << true;
        QTest::newRow("two unknown codes") << make_ProductInfo({0x2A, 0xFF, 0xFF, 0xFF})
                                           << make_ProductInfo({0x99, 0xFF, 0xFF, 0xFF}) << true;
        QTest::newRow("type differs")
            << base << make_ProductInfo({0x2B, 0x10, 0x20, 0x30}) << false;
        QTest::newRow("byte 1 differs")
            << base << make_ProductInfo({0x03, 0x11, 0x20, 0x30}) << false;
        QTest::newRow("byte 2 differs")
            << base << make_ProductInfo({0x03, 0x10, 0x21, 0x30}) << false;
        QTest::newRow("byte 3 differs")
            << base << make_ProductInfo({0x03, 0x10, 0x20, 0x31}) << false;
    }
    void equality_ignores_only_raw_code() {
        QFETCH(ProductInfo, a);
        QFETCH(ProductInfo, b);
        QFETCH(bool, equal);
        QCOMPARE(a == b, equal);
        QCOMPARE(b == a, equal);
        QCOMPARE(a != b, !equal);
    }

    // The operators switch quoting off for their own text only: what follows on the same
    // stream is written as the stream was set up before.
    void debug_stream_restores_state_data() {
        QTest::addColumn<int>("setup");
        QTest::addColumn<QString>("expected");
        QTest::newRow("default") << 0 << "VELK \"q\" ProductInfo: VELK (3) \"q\"";
        QTest::newRow("nospace") << 1 << "VELK\"q\"ProductInfo: VELK (3)\"q\"";
        QTest::newRow("noquote") << 2 << "VELK q ProductInfo: VELK (3) q";
    }
    void debug_stream_restores_state() {
        QFETCH(int, setup);
        QFETCH(QString, expected);
        MessageLog log;
        {
            QDebug dbg = qDebug();
            if (setup == 1)
                dbg.nospace();
            if (setup == 2)
                dbg.noquote();
            dbg << VELK << QString("q") << make_ProductInfo({3, 0xFF, 0xFF, 0xFF}) << QString("q");
        }
        QCOMPARE(log.texts(QtDebugMsg), QStringList{expected});
    }
};

QTEST_GUILESS_MAIN(TestProduct)
#include "test_product.moc"
