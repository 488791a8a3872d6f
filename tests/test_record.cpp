// The record's file and the recorder that alone writes it: the schema brought up to date or left
// alone, rows written ahead and completed once, a record moved aside under a program that has it
// open, and rows that wait for a busy record instead of being dropped.

#include "history/recorder.h"
#include "history/shipper.h"
#include "history/store.h"
#include "message_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <set>

namespace {

constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed

// Runs statements on a connection of the test's own, as another program would.
class OtherProgram {
public:
    explicit OtherProgram(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(path);
        db.open();
    }
    ~OtherProgram() {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    bool run(const QString& statements) {
        QSqlQuery q(QSqlDatabase::database(name, false));
        for (const QString& s : statements.split(';', Qt::SkipEmptyParts))
            if (!q.exec(s))
                return false;
        return true;
    }
    QVariant value(const QString& statement) {
        QSqlQuery q(QSqlDatabase::database(name, false));
        return q.exec(statement) && q.next() ? q.value(0) : QVariant();
    }

private:
    const QString name = QStringLiteral("other program");
};

const char* const first_version_table =
    "CREATE TABLE upgrades (id INTEGER PRIMARY KEY, started_at TEXT NOT NULL, ended_at TEXT NOT "
    "NULL, serial TEXT NOT NULL, product TEXT NOT NULL, revision_before TEXT NOT NULL, "
    "revision_after TEXT NOT NULL, firmware_sha256 TEXT NOT NULL, outcome TEXT NOT NULL, cause "
    "TEXT NOT NULL, download_ms INTEGER, readback_ms INTEGER, tool_version TEXT NOT NULL, host "
    "TEXT NOT NULL, user TEXT NOT NULL);"
    "CREATE INDEX upgrades_serial ON upgrades (serial);"
    "PRAGMA user_version = 1";

// The second version as its program made it: the first's columns, then `uuid` and `phase`.
const char* const second_version_table =
    "CREATE TABLE upgrades (id INTEGER PRIMARY KEY, started_at TEXT NOT NULL, ended_at TEXT NOT "
    "NULL, serial TEXT NOT NULL, product TEXT NOT NULL, revision_before TEXT NOT NULL, "
    "revision_after TEXT NOT NULL, firmware_sha256 TEXT NOT NULL, outcome TEXT NOT NULL, cause "
    "TEXT NOT NULL, download_ms INTEGER, readback_ms INTEGER, tool_version TEXT NOT NULL, host "
    "TEXT NOT NULL, user TEXT NOT NULL, uuid TEXT NOT NULL, phase TEXT NOT NULL);"
    "CREATE UNIQUE INDEX upgrades_uuid ON upgrades (uuid);"
    "CREATE INDEX upgrades_serial_id ON upgrades (serial, id);"
    "CREATE INDEX upgrades_in_progress ON upgrades (id) WHERE outcome = 'in_progress';"
    "PRAGMA user_version = 2";

QByteArray bytes_of(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

History::UpgradeRow row_of(const QString& uuid, const QString& outcome, const QString& phase = {}) {
    History::UpgradeRow row;
    row.uuid = uuid;
    row.serial = QStringLiteral("3776367B3036");
    row.host = QStringLiteral("bench");
    row.outcome = outcome;
    row.phase = phase;
    row.started_at = QDateTime::currentDateTimeUtc();
    return row;
}

std::vector<History::UpgradeRow> all_rows(History::Store& store) {
    History::Trouble trouble;
    return store.rows(QString(), &trouble);
}

} // namespace

class TestRecord : public QObject {
    Q_OBJECT

private slots:
    void a_record_is_brought_to_this_version_or_left_alone_data() {
        QTest::addColumn<QString>("before"); // statements run on the file first
        QTest::addColumn<bool>("ours");      // the program writes it afterwards
        QTest::addColumn<int>("rows");       // rows kept through the migration
        QTest::addColumn<bool>("uuids_kept"); // the rows had their identities before
        QTest::newRow("new file") << "" << true << 0 << false;
        const QString row = "INSERT INTO upgrades VALUES (NULL, '2026-01-02T03:04:05.000Z', "
                            "'2026-01-02T03:05:05.000Z', 'S%1', 'Lumo-7', 'B7', 'B8', 'abc', "
                            "'upgraded', '', 1, 2, '1.0.0', 'bench', 'tech'%2);";
        QTest::newRow("first version with rows")
            << QString(first_version_table) + ";" + row.arg(1).arg("") + row.arg(2).arg("") +
                   row.arg(3).arg("")
            << true << 3 << false;
        const QString second = ", 'kept-%1', 'read_back'";
        QTest::newRow("second version with rows")
            << QString(second_version_table) + ";" + row.arg(1).arg(second.arg(1)) +
                   row.arg(2).arg(second.arg(2))
            << true << 2 << true;
        QTest::newRow("newer version")
            << "CREATE TABLE t (x); PRAGMA user_version = 99" << false << 0 << false;
        QTest::newRow("negative version")
            << "CREATE TABLE t (x); PRAGMA user_version = -1" << false << 0 << false;
    }
    void a_record_is_brought_to_this_version_or_left_alone() {
        QFETCH(QString, before);
        QFETCH(bool, ours);
        QFETCH(int, rows);
        QFETCH(bool, uuids_kept);
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        if (!before.isEmpty())
            QVERIFY(OtherProgram(path).run(before));
        const QByteArray old_bytes = bytes_of(path);
        History::Store store(path);
        QString moved;
        const History::Trouble trouble = store.open(&moved);
        QVERIFY(moved.isEmpty());
        if (!ours) {
            QCOMPARE(trouble.kind, History::Trouble::Kind::newer);
            QVERIFY(store.put(row_of("u", "upgraded"), &moved));
            store.close();
            QCOMPARE(bytes_of(path), old_bytes); // never written, never moved
            QCOMPARE(QDir(home.path()).entryList({"*.damaged-*"}).size(), 0);
            return;
        }
        QVERIFY2(!trouble, qPrintable(trouble.why));
        QCOMPARE(OtherProgram(path).value("PRAGMA user_version").toInt(), History::schema_version);
        std::vector<History::UpgradeRow> kept = all_rows(store);
        QCOMPARE(int(kept.size()), rows);
        std::set<QString> uuids;
        for (const History::UpgradeRow& r : kept) {
            QCOMPARE(r.outcome, QString("upgraded"));
            QCOMPARE(r.revision_before, QString("B7"));
            QCOMPARE(r.uuid.startsWith("kept-"), uuids_kept);
            // Who signed the firmware, and the unit's port, are not known of older rows.
            QCOMPARE(r.firmware_key_id, QString(""));
            QCOMPARE(r.port, QString(""));
            uuids.insert(r.uuid);
        }
        QCOMPARE(int(uuids.size()), rows);
        QVERIFY(!uuids.count(QString()));
        History::UpgradeRow added = row_of("new", "upgraded");
        added.firmware_key_id = "36C87D036941B00D";
        added.port = "1-1.3";
        QVERIFY(!store.put(added, &moved));
        const History::UpgradeRow newest = all_rows(store).front(); // newest first, by insertion
        QCOMPARE(newest.uuid, QString("new"));
        QCOMPARE(newest.firmware_key_id, added.firmware_key_id);
        QCOMPARE(newest.port, added.port);
    }

    // Written ahead, a row is replaced while in progress and completed once; one left in
    // progress by an ended program is interrupted with the phase it reached.
    void a_row_is_completed_once_or_interrupted_in_its_phase_data() {
        QTest::addColumn<QString>("phase");
        QTest::addColumn<QString>("cause");
        QTest::newRow("before the download") << "started" << "program ended before the download";
        QTest::newRow("download") << "download" << "program ended during the download";
        QTest::newRow("downloaded")
            << "downloaded" << "program ended after the download, before the read-back";
        QTest::newRow("read-back") << "read_back" << "program ended during the read-back";
    }
    void a_row_is_completed_once_or_interrupted_in_its_phase() {
        QFETCH(QString, phase);
        QFETCH(QString, cause);
        QTemporaryDir home;
        History::Store store(home.filePath("history.sqlite"));
        QString moved;
        for (const auto& row : {row_of("done", "in_progress", "started"),
                                row_of("done", "in_progress", phase), row_of("done", "upgraded"),
                                row_of("done", "stopped"), row_of("left", "in_progress", phase),
                                row_of("elsewhere", "in_progress", phase)}) {
            History::UpgradeRow r = row;
            if (r.uuid == "elsewhere")
                r.host = "another bench";
            QVERIFY(!store.put(r, &moved));
        }
        int interrupted = 0;
        QVERIFY(!store.interrupt_unfinished("bench", &interrupted));
        QCOMPARE(interrupted, 1);
        std::map<QString, History::UpgradeRow> by_uuid;
        for (const History::UpgradeRow& r : all_rows(store))
            by_uuid[r.uuid] = r;
        QCOMPARE(int(by_uuid.size()), 3);
        QCOMPARE(by_uuid["done"].outcome, QString("upgraded"));
        QCOMPARE(by_uuid["left"].outcome, QString("interrupted"));
        QCOMPARE(by_uuid["left"].cause, cause);
        QCOMPARE(by_uuid["elsewhere"].outcome, QString("in_progress"));
        History::Trouble trouble;
        const History::UnitFacts facts = store.facts("3776367B3036", &trouble);
        QVERIFY(facts.interrupted && facts.interrupted->uuid == "left");
        QVERIFY(facts.last_upgrade && facts.last_upgrade->uuid == "done");
    }

    // A program has the record open when another moves it aside and begins a new one: its next
    // row goes into the new record, never into the moved file.
    void a_record_moved_aside_is_not_written_into() {
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        History::Store store(path);
        QString moved;
        QVERIFY(!store.put(row_of("first", "upgraded"), &moved));
        const QByteArray garbage = QByteArray("no database here, ").repeated(300);
        QFile::rename(path, home.filePath("renamed.sqlite"));
        QFile::remove(path + "-wal");
        QFile::remove(path + "-shm");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(garbage);
        }
        QVERIFY(!store.put(row_of("second", "upgraded"), &moved));
        QVERIFY(moved.startsWith(path + ".damaged-"));
        QCOMPARE(bytes_of(moved), garbage); // moved, never changed
        const std::vector<History::UpgradeRow> rows = all_rows(store);
        QCOMPARE(int(rows.size()), 1);
        QCOMPARE(rows.front().uuid, QString("second"));
        QCOMPARE(OtherProgram(home.filePath("renamed.sqlite"))
                     .value("SELECT count(*) FROM upgrades WHERE uuid = 'second'")
                     .toInt(),
                 0);
    }

    // Another program holds the write lock: rows wait, in order, and the window can say how
    // many and why; released, every row is written. At the end, what could not be written is
    // said whole in the log.
    void a_busy_record_delays_rows_and_never_drops_them_data() {
        QTest::addColumn<bool>("released");
        QTest::newRow("released while the program runs") << true;
        QTest::newRow("held past the end") << false;
    }
    void a_busy_record_delays_rows_and_never_drops_them() {
        QFETCH(bool, released);
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        {
            QString moved;
            History::Store(path).open(&moved);
        }
        OtherProgram other(path);
        QVERIFY(other.run("BEGIN IMMEDIATE"));
        MessageLog log;
        History::RecorderThread thread(path, "bench");
        // The answers cross to this thread queued, as they do to the window.
        QObject here;
        History::RecorderState state;
        int written = 0;
        connect(
            thread.recorder(), &History::Recorder::state_changed, &here,
            [&state](const History::RecorderState& s) { state = s; }, Qt::QueuedConnection);
        connect(
            thread.recorder(), &History::Recorder::row_written, &here, [&written] { ++written; },
            Qt::QueuedConnection);
        thread.start();
        for (const char* uuid : {"a", "b", "c"})
            QMetaObject::invokeMethod(thread.recorder(), "put", Qt::QueuedConnection,
                                      Q_ARG(History::UpgradeRow, row_of(uuid, "upgraded")));
        QTRY_VERIFY_WITH_TIMEOUT(state.waiting == 3, generous_ms);
        QCOMPARE(state.kind, History::RecorderState::Kind::waiting);
        QVERIFY2(state.why.contains("locked"), qPrintable(state.why));
        QCOMPARE(written, 0);
        if (!released) {
            thread.finish_within(300);
            for (const char* uuid : {"a", "b", "c"})
                QVERIFY(log.contains(QString("uuid=%1 ").arg(uuid)));
            QVERIFY(other.run("COMMIT"));
            return;
        }
        QVERIFY(other.run("COMMIT"));
        QTRY_COMPARE_WITH_TIMEOUT(written, 3, generous_ms);
        QTRY_COMPARE_WITH_TIMEOUT(state.kind, History::RecorderState::Kind::kept, generous_ms);
        QCOMPARE(other.value("SELECT group_concat(uuid, '') FROM upgrades ORDER BY id").toString(),
                 QString("abc"));
    }

    // The outbox to the central record: a shipper's request made before the record is open is
    // answered once it is, with the finished rows oldest first (one in progress waits), and a
    // row marked shipped is never offered again.
    void the_outbox_offers_each_finished_row_until_it_is_marked() {
        History::register_central_types();
        QTemporaryDir home;
        History::RecorderThread thread(home.filePath("history.sqlite"), "bench");
        QObject here;
        std::vector<std::pair<QStringList, int>> offers; // uuids, and how many wait in all
        connect(
            thread.recorder(), &History::Recorder::rows_to_ship, &here,
            [&offers](const History::UpgradeRows& batch, int waiting) {
                QStringList uuids;
                for (const History::UpgradeRow& row : batch)
                    uuids << row.uuid;
                offers.emplace_back(uuids, waiting);
            },
            Qt::QueuedConnection);
        QMetaObject::invokeMethod(thread.recorder(), "offer_rows", Qt::QueuedConnection);
        thread.start();
        for (const char* outcome : {"upgraded", "in_progress", "differs"})
            QMetaObject::invokeMethod(thread.recorder(), "put", Qt::QueuedConnection,
                                      Q_ARG(History::UpgradeRow, row_of(outcome, outcome)));
        QTRY_COMPARE_WITH_TIMEOUT(int(offers.size()), 1, generous_ms);
        QCOMPARE(offers[0].first, QStringList({"upgraded", "differs"}));
        QCOMPARE(offers[0].second, 2);
        QMetaObject::invokeMethod(thread.recorder(), "mark_shipped", Qt::QueuedConnection,
                                  Q_ARG(QStringList, offers[0].first));
        QTRY_COMPARE_WITH_TIMEOUT(int(offers.size()), 2, generous_ms);
        QCOMPARE(offers[1].first, QStringList());
        QCOMPARE(offers[1].second, 0);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TestRecord test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_record.moc"
