// The administrator's connection string: read as libpq reads key=value words, bounded where the
// administrator set no bound, shown without its password, and the server's words made plain.

#include "history/central_connection.h"

#include <QtTest>

using namespace History;

class CentralConnection : public QObject {
    Q_OBJECT
private slots:
    void words_are_read_and_shown_without_a_password_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown"); // empty: not a connection string
        QTest::newRow("a service") << "service=orvanta" << "service='orvanta'";
        QTest::newRow("spaces around =") << "host = db  port= 5432" << "host='db' port='5432'";
        QTest::newRow("quoted, with an escaped quote")
            << R"(sslrootcert='/etc/my ca\'s.pem' user=b)" << R"(sslrootcert='/etc/my ca\'s.pem' user='b')";
        QTest::newRow("a password") << "user=b password=s3cret host=db"
                                    << "user='b' password='***' host='db'";
        QTest::newRow("an unclosed quote") << "host='db" << "";
        QTest::newRow("a word without =") << "host=db orvanta" << "";
        QTest::newRow("a URI") << "postgresql://bench@db/orvanta" << "";
        QTest::newRow("nothing") << "   " << "";
        QTest::newRow("a trailing backslash") << "host=db\\" << "host='db\\\\'";
    }
    void words_are_read_and_shown_without_a_password() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        const ParsedConnection parsed = parse_connection(text);
        QCOMPARE(parsed.valid, !shown.isEmpty());
        QCOMPARE(shown_connection(parsed), shown);
    }

    // The administrator's bound wins; the bench's stands where there is none.
    void bounds_are_added_only_where_none_is_set_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("timeout");
        QTest::newRow("none set") << "host=db" << "connect_timeout='3'";
        QTest::newRow("the administrator's") << "host=db connect_timeout=20" << "connect_timeout='20'";
    }
    void bounds_are_added_only_where_none_is_set() {
        QFETCH(QString, text);
        QFETCH(QString, timeout);
        const QString bounded = bounded_connection(parse_connection(text));
        QCOMPARE(bounded.count("connect_timeout="), 1);
        QVERIFY2(bounded.contains(timeout), qPrintable(bounded));
        QVERIFY(bounded.startsWith("host='db'"));
    }

    void server_words_are_made_plain_data() {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("plain");
        QTest::newRow("refused password")
            << "connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  password authentication "
               "failed for user \"bench_3\"\n"
            << "password authentication failed for user \"bench_3\"";
        QTest::newRow("not running")
            << "connection to server at \"db\" (10.0.0.5), port 5432 failed: Connection refused\n\tIs the "
               "server running on that host and accepting TCP/IP connections?"
            << "Connection refused";
        QTest::newRow("a statement's error") << "ERROR:  permission denied for table upgrades"
                                             << "permission denied for table upgrades";
        QTest::newRow("libpq's own") << "timeout expired\n" << "timeout expired";
    }
    void server_words_are_made_plain() {
        QFETCH(QString, words);
        QFETCH(QString, plain);
        QCOMPARE(plain_server_words(words), plain);
    }
};

QTEST_GUILESS_MAIN(CentralConnection)
#include "test_central_connection.moc"
