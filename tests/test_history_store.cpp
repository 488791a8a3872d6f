// The record's file on its own: two programs writing at once, and the CSV export's quoting and
// its guard against spreadsheet formulas.

#include "history/csv.h"
#include "history/store.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int generous_ms = 120000; // bounds waits; nothing here measures speed
constexpr int rows_per_writer = 60;

// The child of the concurrency test: appends its rows, each in a transaction of its own.
int append_rows(const QString& path, const QString& tag) {
    History::Store store(path);
    QString moved;
    History::UpgradeRow row;
    row.serial = tag;
    row.outcome = History::outcome_name(History::Outcome::upgraded);
    for (int i = 0; i < rows_per_writer; ++i) {
        row.cause = QString::number(i);
        row.uuid = tag + row.cause;
        // Another program's commit may outlast the busy timeout: the recorder tries again.
        History::Trouble trouble;
        while ((trouble = store.put(row, &moved)).kind == History::Trouble::Kind::busy)
            QThread::msleep(10);
        if (trouble) {
            std::fprintf(stderr, "%s\n", qPrintable(trouble.why));
            return 3;
        }
    }
    return 0;
}

} // namespace

class TestHistoryStore : public QObject {
    Q_OBJECT

private slots:
    void two_programs_writing_at_once_lose_no_row() {
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        QProcess writers[2];
        const QString tags[] = {"WRITER_A", "WRITER_B"};
        for (int i = 0; i < 2; ++i) {
            writers[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
            writers[i].start(QCoreApplication::applicationFilePath(), {"--append", path, tags[i]});
        }
        for (QProcess& w : writers) {
            QVERIFY(w.waitForFinished(generous_ms));
            QCOMPARE(w.exitStatus(), QProcess::NormalExit);
            QCOMPARE(w.exitCode(), 0);
        }
        History::Store store(path);
        QString moved;
        QVERIFY(!store.open(&moved));
        History::Trouble trouble;
        QCOMPARE(int(store.rows(QString(), &trouble).size()), 2 * rows_per_writer);
        for (const QString& tag : tags) {
            QSet<QString> numbers;
            for (const History::UpgradeRow& r : store.rows(tag, &trouble))
                numbers.insert(r.cause);
            QCOMPARE(numbers.size(), rows_per_writer);
        }
    }

    void the_export_quotes_and_neutralises_what_needs_it_data() {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << "Error during download"
                               << "Error during download";
        QTest::newRow("comma") << "lost, then back"
                               << "\"lost, then back\"";
        QTest::newRow("quotes") << "said \"no\""
                                << "\"said \"\"no\"\"\"";
        QTest::newRow("line feed") << "one\ntwo"
                                   << "\"one\ntwo\"";
        QTest::newRow("carriage return") << "one\r\ntwo"
                                         << "\"one\r\ntwo\"";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("formula") << "=1+1"
                                 << "'=1+1";
        QTest::newRow("plus") << "+1"
                              << "'+1";
        QTest::newRow("minus and text") << "-B8"
                                        << "'-B8";
        QTest::newRow("at") << "@SUM(A1)"
                            << "'@SUM(A1)";
        QTest::newRow("command") << "=cmd|' /C calc'!A0"
                                 << "'=cmd|' /C calc'!A0";
        QTest::newRow("formula with quotes and comma") << "=HYPERLINK(\"http://x\",\"y\")"
                                                       << "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\"";
        QTest::newRow("tab first") << "\t=1+1"
                                   << "'\t=1+1";
        QTest::newRow("carriage return first") << "\r=1+1"
                                               << "\"'\r=1+1\"";
        QTest::newRow("negative integer") << "-5"
                                          << "-5";
        QTest::newRow("minus alone") << "-"
                                     << "'-";
        QTest::newRow("formula sign later") << "B7=B8"
                                            << "B7=B8";
    }
    void the_export_quotes_and_neutralises_what_needs_it() {
        QFETCH(QString, cause);
        QFETCH(QString, field);
        History::UpgradeRow row;
        row.id = 7;
        row.serial = "3776367B3036";
        row.outcome = "download_failed";
        row.cause = cause;
        row.download_ms = 1234;
        const QByteArray csv = History::csv_of({row});
        const QByteArray header = History::column_names().join(',').toUtf8() + "\r\n";
        QVERIFY(csv.startsWith(header));
        const QByteArray expected =
            "7,,,3776367B3036,,,,,download_failed," + field.toUtf8() + ",1234,,,,,,,,,0\r\n";
        QCOMPARE(csv.mid(header.size()), expected);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--append")
        return append_rows(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    TestHistoryStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_history_store.moc"
