// The central record, on a real PostgreSQL server made for the test (tools/pg_test_server.sh),
// which admits benches over TLS only: every finished row arrives once whatever kills the
// program, a server away and back gets the rows without a restart, a backend that stops
// answering is given up for a new connection, a bench learns what another did, TLS is verified
// as administrators set it up, each trouble of the server is told in the bench's state, with no
// password anywhere, and benches and servers of the schema's two revisions ship to each other,
// each row once.

#include "app/history_controller.h"
#include "fake_dfu_util.h"
#include "gui/history_model.h"
#include "gui/history_window.h"
#include "gui/main_window.h"
#include "history/central_connection.h"
#include "history/central_words.h"
#include "history/recorder.h"
#include "history/shipper.h"
#include "history/store.h"
#include "message_log.h"
#include "wired_program.h"

#include <QCheckBox>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QtTest>

#include <memory>

#include <signal.h>

namespace {

constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed
using Kind = History::CentralState::Kind;

QString env(const char* name) {
    return qEnvironmentVariable(name);
}

// The administrator's view of the server.
QVariant admin_value(const QString& statement) {
    const QString name = QStringLiteral("admin");
    if (!QSqlDatabase::contains(name)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setConnectOptions(env("ORVANTA_PG_ADMIN"));
    }
    QSqlDatabase db = QSqlDatabase::database(name);
    QSqlQuery q(db);
    if (!q.exec(statement))
        qWarning() << statement << q.lastError().text();
    return q.next() ? q.value(0) : QVariant();
}

bool server(const char* action) {
    return QProcess::execute(QStringLiteral("bash"),
                             env("ORVANTA_PG_SERVER").split(' ') + QStringList{action}) == 0;
}

History::UpgradeRow finished_row(int n, const QString& serial, const QString& outcome) {
    History::UpgradeRow row;
    row.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    row.serial = serial;
    row.product = QStringLiteral("Lumo-7");
    row.revision_before = QStringLiteral("B7");
    row.revision_after = outcome == QLatin1String("upgraded") ? QStringLiteral("B8") : QString();
    row.outcome = outcome;
    row.phase = QStringLiteral("read_back");
    row.started_at = QDateTime::currentDateTimeUtc().addSecs(n - 100000);
    row.ended_at = row.started_at.addSecs(30);
    row.host = QStringLiteral("bench-pc");
    return row;
}

void fill(const QString& path, int rows, const QString& serial) {
    History::Store store(path);
    QString moved;
    QVERIFY(!store.open(&moved));
    for (int i = 0; i < rows; ++i)
        QVERIFY(!store.put(finished_row(i, serial, QStringLiteral("upgraded")), &moved));
}

int server_rows(const QString& serial) {
    return admin_value(QStringLiteral("SELECT count(DISTINCT uuid) * 1000000 + count(*) FROM upgrades "
                                      "WHERE serial = '%1'").arg(serial)).toInt();
}

// --- the schema's revisions: a server of revision 1 beside `central`, of revision 2 -----------
const QString previous_schema =
    QStringLiteral(ORVANTA_SOURCE_DIR "/tests/central-record-revision-1.sql");
const QString upgrade_script =
    QStringLiteral(ORVANTA_SOURCE_DIR "/packaging/postgresql/central-record-upgrade-2.sql");

QString in_database(QString connection, const QString& database) {
    return connection.replace(QStringLiteral("dbname=central"),
                              QStringLiteral("dbname=") + database);
}

// The administrator applies a schema file to a database, as the README says.
bool apply(const QString& database, const QString& file) {
    QProcess psql;
    psql.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    psql.start(QStringLiteral("psql"),
               {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-d",
                in_database(env("ORVANTA_PG_ADMIN"), database), "-f", file});
    return psql.waitForFinished(generous_ms) && psql.exitStatus() == QProcess::NormalExit &&
           psql.exitCode() == 0;
}

// A new database with the schema as benches of revision 1 knew it.
bool server_of_revision_1(const QString& database) {
    admin_value(QStringLiteral("CREATE DATABASE %1").arg(database));
    return apply(database, previous_schema);
}

// A statement on another database of the server, as its administrator or a bench: the first
// value of its answer (true for a statement that answers no rows), or nothing on an error.
QVariant value_in(const QString& connection, const QString& statement,
                  const QVariantList& values = {}) {
    const QString name = QStringLiteral("other database");
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setConnectOptions(connection);
        QSqlQuery q(db);
        bool ok = db.open() && q.prepare(statement);
        for (const QVariant& v : values)
            q.addBindValue(v);
        ok = ok && q.exec();
        if (!ok)
            qWarning() << statement << db.lastError().text() << q.lastError().text();
        else
            value = q.next() ? q.value(0) : QVariant(true);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

// How many rows of `serial` a database holds (uuids, rows), its ports and its signers' key ids.
QString rows_in(const QString& database, const QString& serial, bool with_new_columns) {
    return value_in(
               in_database(env("ORVANTA_PG_ADMIN"), database),
               QStringLiteral("SELECT count(DISTINCT uuid) || ' ' || count(*) %1 FROM upgrades "
                              "WHERE serial = ?")
                   .arg(with_new_columns ? "|| ' ' || string_agg(DISTINCT port, ',') || ' ' || "
                                           "string_agg(DISTINCT firmware_key_id, ',')"
                                         : ""),
               {serial})
        .toString();
}

// The INSERT of a bench of revision 1, exactly as it sends it, for each of `rows`.
bool ship_as_a_bench_of_revision_1(const QString& connection,
                                   const std::vector<History::UpgradeRow>& rows) {
    const QString insert = QStringLiteral(
        "INSERT INTO upgrades (bench_id,started_at,ended_at,serial,product,revision_before,"
        "revision_after,firmware_sha256,outcome,cause,download_ms,readback_ms,tool_version,host,"
        "\"user\",uuid,phase) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) ON CONFLICT (uuid) DO "
        "NOTHING");
    for (const History::UpgradeRow& r : rows) {
        // Texts as the bench binds them: an empty one is '', never NULL.
        const auto text = [](const QString& t) { return QVariant(t.isNull() ? QString("") : t); };
        QVariantList values;
        values << r.id << History::iso_utc(r.started_at) << History::iso_utc(r.ended_at)
               << text(r.serial) << text(r.product) << text(r.revision_before)
               << text(r.revision_after) << text(r.firmware_sha256) << text(r.outcome)
               << text(r.cause) << 5400 << 2100 << QStringLiteral("1.0.0") << text(r.host)
               << text(r.user) << text(r.uuid) << text(r.phase);
        if (!value_in(connection, insert, values).isValid())
            return false;
    }
    return true;
}

// A bench in the test: its recorder and shipper, and what they said (the last state, and all).
struct Bench : QObject {
    Bench(const QString& record, const QString& connection,
          int statement_bound_ms = History::default_statement_bound_ms)
        : recorder(record, QStringLiteral("bench-pc")),
          shipper(History::bounded_connection(History::parse_connection(connection)),
                  statement_bound_ms) {
        connect(
            shipper.shipper(), &History::Shipper::state_changed, this,
            [this](const History::CentralState& s) {
                state = s;
                states.push_back(s);
            },
            Qt::QueuedConnection);
        connect(shipper.shipper(), &History::Shipper::unit_known, this,
                [this](const QString&, const std::optional<History::FleetUpgrade>& u) {
                    fleet = u;
                    answered = true;
                }, Qt::QueuedConnection);
        shipper.start(recorder.recorder());
        recorder.start();
    }
    void put(const History::UpgradeRow& row) {
        QMetaObject::invokeMethod(recorder.recorder(), "put", Qt::QueuedConnection,
                                  Q_ARG(History::UpgradeRow, row));
    }
    History::RecorderThread recorder;
    History::ShipperThread shipper;
    History::CentralState state;
    std::vector<History::CentralState> states;
    std::optional<History::FleetUpgrade> fleet;
    bool answered = false;
};

// A server process stopped (SIGSTOP) by the test, resumed however the test ends.
struct StoppedProcess {
    explicit StoppedProcess(pid_t pid_) : pid(pid_) { stopped = ::kill(pid, SIGSTOP) == 0; }
    ~StoppedProcess() { resume(); }
    void resume() {
        if (stopped)
            ::kill(pid, SIGCONT);
        stopped = false;
    }
    const pid_t pid;
    bool stopped = false;
};

} // namespace

class CentralShipping : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(!env("ORVANTA_PG_BENCH_A").isEmpty(), "run under tools/pg_test_server.sh");
        History::register_record_types();
        History::register_central_types();
    }

    void each_trouble_is_told_without_a_password_data() {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("prepare"); // the administrator's statement first
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("words");
        const QString a = env("ORVANTA_PG_BENCH_A");
        QTest::newRow("wrong password") << a + " password=wrong-secret" << QString()
                                        << int(Kind::refused) << "password authentication failed";
        QTest::newRow("a bench without a password") << QString(a).replace("bench_a", "bench_z")
                                                    << QString() << int(Kind::refused)
                                                    << "no password supplied";
        QTest::newRow("rows the server turns down")
            << a << "ALTER TABLE upgrades ADD CONSTRAINT turns_down CHECK (serial <> 'TROUBLE') NOT VALID"
            << int(Kind::refused) << "turns_down";
        QTest::newRow("schema of another version")
            << a << "UPDATE schema_info SET version = 2" << int(Kind::unknown_schema) << "2";
        QTest::newRow("server that accepts and never answers")
            << "host=127.0.0.1 port=%silent dbname=central user=bench_a password=never-shown"
            << QString() << int(Kind::not_reached) << "timeout";
        // TLS as the administrator set it up: the bench refuses a server it cannot verify, in
        // libpq's words, before any password is sent; the server refuses a bench without TLS.
        const QString verified = env("ORVANTA_PG_BENCH_A_TLS") + " password=never-shown";
        QTest::newRow("host name not the certificate's")
            << QString(verified).replace("host=localhost", "host=db.example.org") << QString()
            << int(Kind::not_reached)
            << "server certificate for \"localhost\" (and 1 other name) does not match host name "
               "\"db.example.org\"";
        QTest::newRow("server signed by a foreign authority")
            << verified + " sslrootcert=" + env("ORVANTA_PG_FOREIGN_CA") << QString()
            << int(Kind::not_reached) << "certificate verify failed";
        QTest::newRow("a bench without TLS")
            << a + " sslmode=disable" << QString() << int(Kind::refused) << "no pg_hba.conf entry";
    }
    void each_trouble_is_told_without_a_password() {
        QFETCH(QString, connection);
        QFETCH(QString, prepare);
        QFETCH(int, kind);
        QFETCH(QString, words);
        QTcpServer silent; // listens; the kernel accepts, nobody ever answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        connection.replace("%silent", QString::number(silent.serverPort()));
        if (!prepare.isEmpty())
            admin_value(prepare);
        QTemporaryDir dir;
        fill(dir.filePath("history.sqlite"), 3, "TROUBLE");
        MessageLog log;
        QElapsedTimer closing;
        {
            Bench bench(dir.filePath("history.sqlite"), connection);
            QTRY_VERIFY_WITH_TIMEOUT(bench.state.kind == Kind(kind), generous_ms);
            QVERIFY2(bench.state.why.contains(words), qPrintable(bench.state.why));
            QCOMPARE(bench.state.waiting, 3);
            closing.start();
            bench.shipper.finish_within(1000);
        }
        QVERIFY2(closing.elapsed() < 5000, "closing waits for the server"); // a bound, not a speed
        admin_value("UPDATE schema_info SET version = 1");
        admin_value("ALTER TABLE upgrades DROP CONSTRAINT IF EXISTS turns_down");
        QCOMPARE(server_rows("TROUBLE"), 0);
        for (const QString& text : log.texts())
            QVERIFY2(!text.contains("secret") && !text.contains("never-shown"), qPrintable(text));
    }

    void ships_over_tls_as_administrators_run_it_data() {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("bench");
        QTest::newRow("verify-full with the fleet's authority")
            << env("ORVANTA_PG_BENCH_A_TLS") << "bench_a";
        // bench_c has no password anywhere: the server admits it by its certificate alone.
        QTest::newRow("a client certificate instead of a password")
            << env("ORVANTA_PG_BENCH_C") << "bench_c";
    }
    void ships_over_tls_as_administrators_run_it() {
        QFETCH(QString, connection);
        QFETCH(QString, bench);
        const QString serial = "TLS-" + bench;
        MessageLog log;
        QTemporaryDir dir;
        Bench shipping(dir.filePath("history.sqlite"), connection);
        shipping.put(finished_row(1, serial, "upgraded"));
        QTRY_COMPARE_WITH_TIMEOUT(server_rows(serial), 1000001, generous_ms);
        QCOMPARE(
            admin_value(QString("SELECT min(bench) FROM upgrades WHERE serial = '%1'").arg(serial))
                .toString(),
            bench);
        QTRY_VERIFY_WITH_TIMEOUT(shipping.state.kind == Kind::up_to_date, generous_ms);
        for (const QString& text : log.texts())
            QVERIFY2(!text.contains("test-pass"), qPrintable(text));
    }

    // The bench's backend stopped while the bench holds its connection, as a backend stuck on a
    // dead disk behaves: its kernel still answers, it never does. The bench's own bound gives
    // the statement up (shorter here than the product's, to keep the test short); the row
    // reaches the server over a new connection, once, and the stopped backend's late INSERT,
    // when it is resumed, adds nothing.
    void a_stopped_backend_is_given_up_and_the_row_lands_once() {
        const int bound_ms = 6000;
        const QString name = "stopped-bench";
        const QString backends =
            "SELECT %1 FROM pg_stat_activity WHERE application_name = '" + name + "'";
        MessageLog log;
        QTemporaryDir dir;
        Bench bench(dir.filePath("history.sqlite"),
                    env("ORVANTA_PG_BENCH_A") + " application_name=" + name, bound_ms);
        bench.put(finished_row(1, "STOPPED", "upgraded"));
        QTRY_COMPARE_WITH_TIMEOUT(server_rows("STOPPED"), 1000001, generous_ms);
        const pid_t backend = admin_value(backends.arg("min(pid)")).toInt();
        QVERIFY(backend > 0);
        StoppedProcess stopped(backend);
        QVERIFY(stopped.stopped);

        bench.put(finished_row(2, "STOPPED", "upgraded"));
        QTRY_COMPARE_WITH_TIMEOUT(server_rows("STOPPED"), 2000002, 45000);
        QCOMPARE(
            admin_value(backends.arg("count(*)") + QString(" AND pid <> %1").arg(backend)).toInt(),
            1);
        const auto silent = std::find_if(
            bench.states.begin(), bench.states.end(),
            [](const History::CentralState& s) { return s.kind == Kind::not_answering; });
        QVERIFY(silent != bench.states.end());
        const Settings::Texts texts = Settings::shipped_texts();
        const QString words = History::central_words(*silent, texts);
        QCOMPARE(words,
                 texts.text("central_not_answering").arg(silent->silent_since.toString("HH:mm")));
        QCOMPARE(log.count(words), 1);
        QTRY_VERIFY_WITH_TIMEOUT(bench.state.kind == Kind::up_to_date, generous_ms);
        QVERIFY(log.contains(texts.text("central_up_to_date")));

        stopped.resume();
        QTRY_COMPARE_WITH_TIMEOUT(
            admin_value(backends.arg("count(*)") + QString(" AND pid = %1").arg(backend)).toInt(),
            0, generous_ms);
        QCOMPARE(server_rows("STOPPED"), 2000002);
    }

    // A backlog shipped by the program itself, killed four times at random moments.
    void every_row_arrives_once_though_the_program_is_killed() {
        QTemporaryDir dir;
        QDir(dir.path()).mkpath("data/Orvanta/FirmwareUpgradeTool");
        fill(dir.filePath("data/Orvanta/FirmwareUpgradeTool/history-simulator.sqlite"), 2000, "KILLED");
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "offscreen");
        e.insert("XDG_DATA_HOME", dir.filePath("data"));
        e.insert("XDG_RUNTIME_DIR", dir.path());
        e.insert("ORVANTA_SIMULATOR_STATE_DIR", dir.filePath("state"));
        const QStringList args{"--use-simulator", "--central-record", env("ORVANTA_PG_BENCH_A")};
        for (int kill = 0; kill <= 4; ++kill) {
            QProcess program;
            program.setProcessEnvironment(e);
            program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            program.start(QStringLiteral(ORVANTA_EXECUTABLE), args);
            QVERIFY(program.waitForStarted());
            if (kill < 4) {
                QTest::qWait(300 + int(QRandomGenerator::global()->bounded(1200)));
                program.kill();
            } else {
                QTRY_COMPARE_WITH_TIMEOUT(server_rows("KILLED"), 2000 * 1000000 + 2000, generous_ms);
                program.terminate();
            }
            QVERIFY(program.waitForFinished(generous_ms));
        }
        QCOMPARE(server_rows("KILLED"), 2000 * 1000000 + 2000);
        History::Store store(dir.filePath("data/Orvanta/FirmwareUpgradeTool/history-simulator.sqlite"));
        QString moved;
        QVERIFY(!store.open(&moved));
        History::Trouble trouble;
        QCOMPARE(store.count_unshipped(&trouble), 0);
    }

    void rows_wait_for_a_server_away_and_arrive_when_it_is_back() {
        QTemporaryDir dir;
        Bench bench(dir.filePath("history.sqlite"), env("ORVANTA_PG_BENCH_A"));
        bench.put(finished_row(1, "AWAY", "upgraded"));
        QTRY_COMPARE_WITH_TIMEOUT(server_rows("AWAY"), 1000001, generous_ms);
        QVERIFY(server("stop"));
        bench.put(finished_row(2, "AWAY", "download_failed"));
        QTRY_VERIFY_WITH_TIMEOUT(bench.state.kind == Kind::not_reached && bench.state.waiting == 1,
                                 generous_ms);
        QVERIFY(bench.state.reached_at.isValid());
        QVERIFY(server("start"));
        QTRY_COMPARE_WITH_TIMEOUT(server_rows("AWAY"), 2000002, generous_ms);
        QTRY_VERIFY_WITH_TIMEOUT(bench.state.kind == Kind::up_to_date, generous_ms);
    }

    void a_bench_learns_what_another_bench_did() {
        QTemporaryDir dir;
        Bench a(dir.filePath("a.sqlite"), env("ORVANTA_PG_BENCH_A"));
        a.put(finished_row(1, "SHARED", "upgraded"));
        QTRY_COMPARE_WITH_TIMEOUT(server_rows("SHARED"), 1000001, generous_ms);
        Bench b(dir.filePath("b.sqlite"), env("ORVANTA_PG_BENCH_B"));
        for (Bench* bench : {&b, &a}) {
            QMetaObject::invokeMethod(bench->shipper.shipper(), "ask_unit", Qt::QueuedConnection,
                                      Q_ARG(QString, "SHARED"));
            QTRY_VERIFY_WITH_TIMEOUT(bench->answered, generous_ms);
            QVERIFY(bench->fleet);
            QCOMPARE(bench->fleet->bench, QStringLiteral("bench_a"));
            QCOMPARE(bench->fleet->revision_after, QStringLiteral("B8"));
            QCOMPARE(bench->fleet->elsewhere, bench == &b);
        }
    }

    // A bench of revision 1 asks for the version it knows and ships with its own INSERT, to a
    // server made new and to one upgraded from revision 1: each row lands once, of unknown
    // signer and port.
    void a_bench_of_revision_1_ships_to_a_server_of_revision_2_data() {
        QTest::addColumn<QString>("database");
        QTest::newRow("made new") << "central";
        QTest::newRow("upgraded from revision 1") << "upgraded";
    }
    void a_bench_of_revision_1_ships_to_a_server_of_revision_2() {
        QFETCH(QString, database);
        if (database != QLatin1String("central")) {
            QVERIFY(server_of_revision_1(database));
            QVERIFY(apply(database, upgrade_script));
        }
        const QString bench = in_database(env("ORVANTA_PG_BENCH_A"), database);
        QCOMPARE(value_in(bench, "SELECT version FROM schema_info").toInt(), 1);
        const QString serial = QStringLiteral("OLD-BENCH-") + database.toUpper();
        const std::vector<History::UpgradeRow> rows{finished_row(1, serial, "upgraded"),
                                                    finished_row(2, serial, "differs")};
        for (int twice = 0; twice < 2; ++twice) // a kill before the mark: shipped again
            QVERIFY(ship_as_a_bench_of_revision_1(bench, rows));
        QCOMPARE(rows_in(database, serial, true), QString("2 2  ")); // empty port and key id
    }

    // A bench of revision 2 ships to a server of revision 1 what a bench of that revision
    // ships, each row once; upgraded under it, the server gets the port and the signer of the
    // next rows at once.
    void a_bench_of_revision_2_ships_to_a_server_of_revision_1() {
        QVERIFY(server_of_revision_1("revision1"));
        QTemporaryDir dir;
        Bench bench(dir.filePath("history.sqlite"),
                    in_database(env("ORVANTA_PG_BENCH_A"), "revision1"));
        History::UpgradeRow row = finished_row(1, "NEW-BENCH", "upgraded");
        row.port = QStringLiteral("1-1.3");
        row.firmware_key_id = QStringLiteral("36C87D036941B00D");
        bench.put(row);
        QTRY_COMPARE_WITH_TIMEOUT(rows_in("revision1", "NEW-BENCH", false), QString("1 1"),
                                  generous_ms);
        QTRY_VERIFY_WITH_TIMEOUT(bench.state.kind == Kind::up_to_date, generous_ms);
        QVERIFY(apply("revision1", upgrade_script));
        row = finished_row(2, "NEW-BENCH", "download_failed");
        row.port = QStringLiteral("1-1.4");
        row.firmware_key_id = QStringLiteral("36C87D036941B00D");
        bench.put(row);
        QTRY_COMPARE_WITH_TIMEOUT(rows_in("revision1", "NEW-BENCH", true),
                                  QString("2 2 ,1-1.4 ,36C87D036941B00D"), generous_ms);
        QTRY_VERIFY_WITH_TIMEOUT(bench.state.kind == Kind::up_to_date, generous_ms);
    }

    // Bench B's window, with an empty record: the unit that bench A upgraded is told as upgraded
    // there, the indicator says the central record is up to date, and the history window shows
    // the fleet's rows of the unit.
    void the_window_tells_what_the_fleet_did() {
        QTemporaryDir dir;
        History::UpgradeRow upgrade = finished_row(1, wired::serial, "upgraded");
        upgrade.ended_at = QDateTime::currentDateTimeUtc().addDays(-2);
        {
            Bench a(dir.filePath("a.sqlite"), env("ORVANTA_PG_BENCH_A"));
            a.put(upgrade);
            QTRY_COMPARE_WITH_TIMEOUT(server_rows(wired::serial), 1000001, generous_ms);
        }
        FakeDfuUtil fake;
        wired::attach(fake, FakeDfuUtil::flash_image({3}, "B8"));
        WiredProgram program(dir.filePath("b.sqlite"), env("ORVANTA_PG_BENCH_B"));
        const QString told = wired::text("history_elsewhere")
                                 .arg("bench_a", upgrade.ended_at.toLocalTime().toString("yyyy-MM-dd"), "B7", "B8");
        const auto hint = [] {
            return QTextDocumentFragment::fromHtml(wired::main_window()->hintLabel->toolTip() + " " +
                                                   wired::main_window()->hintLabel->text()).toPlainText();
        };
        QTRY_VERIFY2_WITH_TIMEOUT(hint().contains(told), qPrintable(hint()), generous_ms);
        auto* indicator = wired::main_window()->findChild<QLabel*>("central_record");
        QVERIFY(indicator);
        QTRY_COMPARE_WITH_TIMEOUT(indicator->toolTip(), wired::text("central_up_to_date"), generous_ms);

        QTest::keyClick(wired::main_window(), Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY_WITH_TIMEOUT(wired::history_window() && wired::history_window()->isVisible(), generous_ms);
        QVERIFY(wired::history_window()->fleet_box());
        wired::history_window()->fleet_box()->setChecked(true);
        wired::history_window()->set_filter(wired::serial);
        // Bench A's upgrade, and bench B's own row of the unit once it has shipped it.
        HistoryModel* fleet = wired::history_window()->model();
        QTRY_VERIFY_WITH_TIMEOUT(fleet->rowCount() >= 1, generous_ms);
        QCOMPARE(fleet->index(fleet->rowCount() - 1, 1).data().toString(), wired::serial);
    }
};

QTEST_MAIN(CentralShipping)
#include "test_central_shipping.moc"
