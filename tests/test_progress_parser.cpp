// dfu-util 0.9's progress on standard output, read as it arrives: carriage returns, updates
// split anywhere between two reads, output without progress.

#include "dfu/progress_parser.h"
#include "fake_dfu_util.h"

#include <QtTest>

#include <vector>

namespace {

// The text dfu-util 0.9 prints for one transfer of `size` bytes: after its own lines, an
// update whenever a 25th more is done, a line feed after the 100 % update, "<label> done.".
QByteArray transfer_output(const char* label, int size) {
    QByteArray out = QByteArrayLiteral("Opening DFU capable USB device...\nID 0483:df11\n"
                                       "DfuSe interface name: \"Internal Flash  \"\n");
    for (int k = 0; k <= 25; ++k) {
        const int bytes = static_cast<int>(qint64(size) * k / 25);
        out += QByteArray("\r") + label + "\t[" + QByteArray(k, '=') + QByteArray(25 - k, ' ') +
               "] " + QByteArray::number(100LL * bytes / size).rightJustified(3, ' ') + "% " +
               QByteArray::number(bytes).rightJustified(12, ' ') + " bytes";
    }
    return out + "\n" + label + " done.\n";
}

std::vector<int> percents_of(int size) {
    std::vector<int> out;
    for (int k = 0; k <= 25; ++k)
        out.push_back(static_cast<int>(100LL * (qint64(size) * k / 25) / size));
    return out;
}

std::vector<int> feed_in_pieces(const QByteArray& text, int piece) {
    DFU::ProgressParser parser;
    std::vector<int> found;
    for (int at = 0; at < text.size(); at += piece)
        for (int p : parser.feed(text.mid(at, piece)))
            found.push_back(p);
    return found;
}

} // namespace

class TestProgressParser : public QObject {
    Q_OBJECT
private slots:
    void every_update_once_however_the_reads_split_data() {
        QTest::addColumn<QByteArray>("label");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("piece"); // bytes per read; 0: all in one
        QTest::newRow("download, one read") << QByteArray("Download") << 400308 << 0;
        QTest::newRow("download, byte by byte") << QByteArray("Download") << 400308 << 1;
        QTest::newRow("read-back, 7-byte reads") << QByteArray("Upload") << 400308 << 7;
        QTest::newRow("read-back, 61-byte reads (about one update)") << QByteArray("Upload") << 400308 << 61;
        QTest::newRow("information block, 2048 bytes") << QByteArray("Upload") << 2048 << 13;
    }
    void every_update_once_however_the_reads_split() {
        QFETCH(QByteArray, label);
        QFETCH(int, size);
        QFETCH(int, piece);
        const QByteArray text = transfer_output(label.constData(), size);
        QCOMPARE(feed_in_pieces(text, piece > 0 ? piece : text.size()), percents_of(size));
    }

    // An update is reported as soon as its " bytes" has arrived, not only when dfu-util starts
    // the next one (which for a slow unit comes seconds later).
    void an_update_is_reported_when_complete() {
        DFU::ProgressParser parser;
        QCOMPARE(parser.feed("\rDownload\t[=====                    ]  20%        81"),
                 std::vector<int>());
        QCOMPARE(parser.feed("920 bytes"), std::vector<int>{20});
        QCOMPARE(parser.feed("\rDownload\t[======                   ]  24%        98304 bytes"),
                 std::vector<int>{24});
        QCOMPARE(parser.feed("\n"), std::vector<int>()); // the separator reports nothing again
    }

    void text_without_progress_gives_nothing_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("version banner") << QByteArray(
            "dfu-util 0.9\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n");
        QTest::newRow("listing") << FakeDfuUtil::listing_line("3776367B3036", 0).toUtf8();
        QTest::newRow("a failed run's first bracket") << QByteArray("Download\t[");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("another label") << QByteArray("\rErase   \t[=====     ]  20%        81920 bytes\n");
        QTest::newRow("percent above 100") << QByteArray("\rUpload\t[=] 101%          1 bytes\n");
        QTest::newRow("four-digit percent") << QByteArray("\rUpload\t[=] 1000%          1 bytes\n");
        QTest::newRow("no byte count") << QByteArray("\rUpload\t[=]  20%  bytes\n");
        QTest::newRow("text after the update") << QByteArray("\rUpload\t[=]  20%   5 bytes!\n");
        QTest::newRow("an overlong line ending like an update")
            << QByteArray(200, 'x') + "\tDownload\t[=]  20%   5 bytes";
    }
    void text_without_progress_gives_nothing() {
        QFETCH(QByteArray, text);
        DFU::ProgressParser parser;
        QCOMPARE(parser.feed(text), std::vector<int>());
        QCOMPARE(parser.feed("\n"), std::vector<int>());
    }
};

QTEST_GUILESS_MAIN(TestProgressParser)
#include "test_progress_parser.moc"
