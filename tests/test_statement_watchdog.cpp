// The statement watchdog on a socket pair, without a server: a call that waits on a socket
// without an answer fails once the bound is over, from the watchdog's thread; a call answered
// in time leaves the socket whole, and a disarmed watchdog never touches it again.

#include "history/central_record.h"
#include "history/statement_watchdog.h"

#include <QElapsedTimer>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int bound_ms = 1000;

struct SocketPair {
    SocketPair() { ok = ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0; }
    ~SocketPair() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    bool ok = false;
    int ends[2] = {-1, -1}; // the connection's, the server's
};

bool sends_one_byte(int socket) {
    const char byte = 'x';
    return ::send(socket, &byte, 1, MSG_NOSIGNAL) == 1;
}

ssize_t receive_one_byte(int socket) {
    char byte = 0;
    return ::recv(socket, &byte, 1, 0);
}

} // namespace

class StatementWatchdogTest : public QObject {
    Q_OBJECT
private slots:
    void gives_up_a_call_without_an_answer_data() {
        QTest::addColumn<bool>("answered");
        QTest::newRow("an answer within the bound") << true;
        QTest::newRow("no answer") << false;
    }
    void gives_up_a_call_without_an_answer() {
        QFETCH(bool, answered);
        SocketPair pair;
        QVERIFY(pair.ok);
        History::StatementWatchdog watchdog{std::chrono::milliseconds(bound_ms)};
        if (answered)
            QVERIFY(sends_one_byte(pair.ends[1]));
        QElapsedTimer waited;
        waited.start();
        ssize_t received = -1;
        {
            const History::StatementWatchdog::Watch watch(&watchdog, pair.ends[0]);
            received = receive_one_byte(pair.ends[0]); // the waiting call
            QCOMPARE(watchdog.fired(), !answered);
        }
        QCOMPARE(received, answered ? 1 : 0); // shut down: the end of the stream
        if (!answered) {
            QVERIFY2(waited.elapsed() >= bound_ms, "given up before the bound");
            QVERIFY(!sends_one_byte(pair.ends[0]));
            return;
        }
        // Disarmed: past the bound, the socket still works both ways.
        QTest::qWait(bound_ms + bound_ms / 2);
        QVERIFY(!watchdog.fired());
        QVERIFY(sends_one_byte(pair.ends[0]));
        QVERIFY(sends_one_byte(pair.ends[1]));
        QCOMPARE(receive_one_byte(pair.ends[0]), ssize_t(1));
    }

    // Each arming asks anew: a watchdog that fired on one connection is clear for the next.
    void fired_tells_of_the_last_arming_only() {
        SocketPair first, second;
        QVERIFY(first.ok && second.ok);
        History::StatementWatchdog watchdog{std::chrono::milliseconds(bound_ms)};
        {
            const History::StatementWatchdog::Watch watch(&watchdog, first.ends[0]);
            QCOMPARE(receive_one_byte(first.ends[0]), ssize_t(0));
        }
        QVERIFY(watchdog.fired());
        QVERIFY(sends_one_byte(second.ends[1]));
        const History::StatementWatchdog::Watch watch(&watchdog, second.ends[0]);
        QVERIFY(!watchdog.fired());
        QCOMPARE(receive_one_byte(second.ends[0]), ssize_t(1));
    }

    // A watchdog that gave up the last connection's statement says nothing of the next
    // connect: a server that cannot be reached then is told as not reached.
    void a_failed_connect_after_a_shot_is_its_own_trouble() {
        SocketPair pair;
        QVERIFY(pair.ok);
        History::StatementWatchdog watchdog{std::chrono::milliseconds(1)};
        {
            const History::StatementWatchdog::Watch watch(&watchdog, pair.ends[0]);
            QCOMPARE(receive_one_byte(pair.ends[0]), ssize_t(0));
        }
        QVERIFY(watchdog.fired());
        // Port 1 of this host: nothing listens there, the connect is refused at once.
        History::CentralRecord record(QStringLiteral("host=127.0.0.1 port=1 connect_timeout=2"),
                                      &watchdog);
        const History::CentralTrouble trouble = record.open();
        QCOMPARE(int(trouble.kind), int(History::CentralTrouble::Kind::not_reached));
        QVERIFY(!record.is_open());
    }
};

QTEST_MAIN(StatementWatchdogTest)
#include "test_statement_watchdog.moc"
