// The central record, on a real PostgreSQL server made for the test (tools/pg_test_server.sh),
// which admits benches over TLS only: every finished row arrives once whatever kills the
// program, a server away and back gets the rows without a restart, a backend that stops
// answering is given up for a new connection, a bench learns what another did, TLS is verified
// as administrators set it up, and each trouble of the server is told in the bench's state,
// with no password anywhere.

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
