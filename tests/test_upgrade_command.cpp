// The command-line program, driven from outside as a station or a script drives it: its exit
// status and its JSON Lines against the simulator's units, a station's loop over two units,
// a stop during a download, which runs to its end first, and --version naming the carried
// firmware and who signed it.

#include "upgrade/single_instance.h"
#include "device/fw_info.h"
#include "fake_dfu_util.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <optional>

namespace {

const QString program = QStringLiteral(ORVANTA_UPGRADE_EXECUTABLE);
constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed
const QString simulator_lock = QStringLiteral("com.orvanta.FirmwareUpgradeTool.simulator");

// One user's runtime, data and simulated units, private to a test row.
class Bench {
public:
    // `state`: the simulated units' directory; empty: one of the bench's own.
    explicit Bench(const QString& state = QString()) : state_(state) {
        QDir().mkpath(runtime());
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(this->state());
    }
    QString runtime() const { return dir.filePath("runtime"); }
    QString state() const { return state_.isEmpty() ? dir.filePath("state") : state_; }

    // The simulated unit's flash at `port`, read back with the simulator's own upload.
    QByteArray flash_at(const QString& port, int size) {
        const QString out = dir.filePath("flash-" + port + ".bin");
        QFile::remove(out);
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(simulator_script(), {"--dfu-util-command", "upload_FW", "--fast-progress", "-d",
                                     "0483", "-a", "0", "-s", QString("0x08000000:%1").arg(size),
                                     "-U", out, "-p", port});
        p.waitForFinished(generous_ms);
        QFile f(out);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QString simulator_script() {
        return QFileInfo(QStringLiteral(ORVANTA_DFU_SIMULATOR)).dir().filePath("dfu-util_simulator.sh");
    }

    // One of the simulator's prepared configurations; transfers take `download_s` seconds
    // for the download and none for the read-back.
    bool attach(const QString& configuration, int download_s = 0) {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(simulator_script(), {"--dfu-util-command", "setup_prepared_config", configuration});
        const bool set_up = p.waitForFinished(generous_ms) && p.exitCode() == 0;
        return set_up && write_seconds("download_seconds", download_s) &&
               write_seconds("upload_seconds", 0);
    }

    // The unit leaves. The worker looks at a connected unit every second: the wait is
    // generously long for it to see it gone.
    bool detach() {
        const bool gone = attach("no_unit");
        QTest::qWait(5000);
        return gone;
    }

    std::unique_ptr<QProcess> start(const QStringList& arguments) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environment());
        p->start(program, arguments);
        return p;
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("ORVANTA_SIMULATOR_STATE_DIR", state());
        return env;
    }

    QTemporaryDir dir;

private:
    const QString state_;
    bool write_seconds(const QString& name, int seconds) {
        QFile f(QDir(state()).filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(QByteArray::number(seconds)) > 0;
    }
};

// The JSON Lines read so far from a running program.
class Events {
public:
    explicit Events(QProcess& p) : process(p) {}

    // Reads until an event of this name (and phase, when given) arrives or the program ends.
    std::optional<QJsonObject> wait_for(const QString& name, const QString& phase = QString(),
                                        const QString& port = QString()) {
        QElapsedTimer t;
        t.start();
        while (!t.hasExpired(generous_ms)) {
            while (process.canReadLine()) {
                const QJsonObject o = QJsonDocument::fromJson(process.readLine()).object();
                if (!o.contains("event"))
                    ++not_events;
                all.push_back(o);
                if (o.value("event") == name && (phase.isEmpty() || o.value("phase") == phase) &&
                    (port.isEmpty() || o.value("port") == port))
                    return o;
            }
            if (process.state() == QProcess::NotRunning)
                return std::nullopt;
            process.waitForReadyRead(100);
        }
        return std::nullopt;
    }
    // Reads the rest of a program that has ended.
    void drain() { wait_for(QString()); }

    QList<QJsonObject> all;
    int not_events = 0; // lines of standard output that are no JSON object with an "event"

private:
    QProcess& process;
};

// As the build's firmware check wrote them beside the embedded firmware.
QString carried(const char* name) {
    QFile f(QStringLiteral(":resources/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll().trimmed()) : QString();
}

int exit_status(QProcess& p) {
    // A program that has ended already is not waited for again (Qt would say it timed out).
    if (p.state() != QProcess::NotRunning && !p.waitForFinished(generous_ms))
        return -1;
    if (p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

} // namespace

class TestUpgradeCommand : public QObject {
    Q_OBJECT

private slots:
    void exit_status_and_outcome_data();
    void exit_status_and_outcome();
    void station_takes_two_units_in_turn();
    void a_second_program_is_kept_out_while_rows_are_in_progress();
    void version_names_the_carried_firmware_and_its_signer_data();
    void version_names_the_carried_firmware_and_its_signer();
    void several_units_each_by_its_port_data();
    void several_units_each_by_its_port();
    void a_stop_during_four_downloads_lets_each_end();
    void each_port_is_a_station_of_its_own();
    void a_kill_during_four_downloads_leaves_four_interrupted();
    void the_metrics_file_is_what_node_exporter_reads();
};

void TestUpgradeCommand::exit_status_and_outcome_data() {
    QTest::addColumn<QString>("configuration");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outcome"); // empty: no outcome event
    QTest::addColumn<bool>("recorded");
    QTest::addColumn<bool>("stop_in_download"); // SIGINT at the download's first progress

    const QStringList sim{"--use-simulator", "--json"};
    QTest::newRow("status identifies a unit of this product, writes nothing")
        << "older_revision" << QStringList{"status"} + sim << 0 << "identified" << false << false;
    QTest::newRow("install writes another revision, reads it back")
        << "older_revision" << QStringList{"install"} + sim << 0 << "upgraded" << true << false;
    QTest::newRow("install finds the carried firmware and leaves it")
        << "desired_firmware" << QStringList{"install"} + sim << 0 << "already_current" << true
        << false;
    QTest::newRow("install writes again a carried revision whose read-back differs")
        << "desired_revision_differs" << QStringList{"install"} + sim << 0 << "upgraded" << true
        << false;
    QTest::newRow("verify never writes: another revision differs")
        << "older_revision" << QStringList{"verify"} + sim << 1 << "differs" << false << false;
    QTest::newRow("verify of a carried revision whose read-back differs")
        << "desired_revision_differs" << QStringList{"verify"} + sim << 1 << "differs" << true
        << false;
    QTest::newRow("download fails") << "download_fails" << QStringList{"install"} + sim << 1
                                    << "download_failed" << true << false;
    QTest::newRow("unit lost during the download")
        << "lost_during_download" << QStringList{"install"} + sim << 1 << "unit_lost" << true
        << false;
    QTest::newRow("verify finds the carried firmware")
        << "desired_firmware" << QStringList{"verify"} + sim << 0 << "already_current" << true
        << false;
    QTest::newRow("usage: no verb") << "no_unit" << sim << 2 << "" << false << false;
    QTest::newRow("usage: wait is not a number")
        << "no_unit" << QStringList{"status", "--wait", "soon"} + sim << 2 << "" << false << false;
    QTest::newRow("usage: repeat with history")
        << "no_unit" << QStringList{"history", "--repeat"} + sim << 2 << "" << false << false;
    QTest::newRow("usage: --csv belongs to history")
        << "no_unit" << QStringList{"install", "--csv"} + sim << 2 << "" << false << false;
    QTest::newRow("another copy holds the simulator's lock")
        << "older_revision" << QStringList{"install"} + sim << 3 << "" << false << false;
    QTest::newRow("another product is refused")
        << "other_product" << QStringList{"install"} + sim << 4 << "refused" << false << false;
    QTest::newRow("status refuses another product")
        << "other_product" << QStringList{"status"} + sim << 4 << "refused" << false << false;
    QTest::newRow("blank OTP is refused")
        << "blank_otp" << QStringList{"status"} + sim << 4 << "no_record" << false << false;
    QTest::newRow("no unit within the wait")
        << "no_unit" << QStringList{"status", "--wait", "1"} + sim << 5 << "no_unit" << false
        << false;
    QTest::newRow("two units connected")
        << "two_units" << QStringList{"install"} + sim << 5 << "several_units" << false << false;
    QTest::newRow("no USB rule") << "no_access" << QStringList{"install"} + sim << 6 << "no_access"
                                 << false << false;
    QTest::newRow("status: no USB rule")
        << "no_access" << QStringList{"status"} + sim << 6 << "no_access" << false << false;
    QTest::newRow("stop during the download: it runs to its end")
        << "older_revision" << QStringList{"install"} + sim << 130 << "stopped" << true << true;
}

void TestUpgradeCommand::exit_status_and_outcome() {
    QFETCH(QString, configuration);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, outcome);
    QFETCH(bool, stop_in_download);

    Bench bench;
    QVERIFY(bench.attach(configuration, stop_in_download ? 3 : 0));
    // The window, or a station, of the simulator's mode holds its lock.
    std::unique_ptr<SingleInstance> other;
    if (status == 3) {
        qputenv("XDG_RUNTIME_DIR", bench.runtime().toUtf8());
        other = std::make_unique<SingleInstance>(simulator_lock);
        QVERIFY(other->claim());
    }
    const std::unique_ptr<QProcess> p = bench.start(arguments);
    Events events(*p);
    if (stop_in_download) {
        QVERIFY(events.wait_for("progress", "download"));
        ::kill(static_cast<pid_t>(p->processId()), SIGINT);
        ::kill(static_cast<pid_t>(p->processId()), SIGINT); // a second Ctrl+C cuts nothing
    }
    const std::optional<QJsonObject> told = events.wait_for("outcome");
    QCOMPARE(exit_status(*p), status);
    events.drain();
    QCOMPARE(events.not_events, 0); // the log goes to standard error only
    QCOMPARE(told.has_value(), !outcome.isEmpty());
    if (!told)
        return;
    QCOMPARE(told->value("outcome").toString(), outcome);
    QTEST(told->value("recorded").toBool(), "recorded");
    QCOMPARE(told->value("exit_status").toInt(), status);
    if (stop_in_download) // the download ran to its end and wrote the unit
        QCOMPARE(told->value("transfer").toString(), QStringLiteral("written"));
    if (outcome == "upgraded") // the read-back matched the carried firmware
        QCOMPARE(told->value("revision_after"), events.all.first().value("carried_revision"));
}

// A station: each unit gets its outcome, the next one is waited for once the last has gone,
// the record can be read meanwhile, and a stop between units ends it with 130.
void TestUpgradeCommand::station_takes_two_units_in_turn() {
    Bench bench;
    QVERIFY(bench.attach("desired_firmware"));
    const std::unique_ptr<QProcess> p =
        bench.start({"install", "--repeat", "--use-simulator", "--json"});
    Events events(*p);
    const std::optional<QJsonObject> first = events.wait_for("outcome");
    QVERIFY(first);
    QCOMPARE(first->value("outcome").toString(), QStringLiteral("already_current"));

    QVERIFY(bench.detach());
    QVERIFY(bench.attach("older_revision"));
    const std::optional<QJsonObject> second = events.wait_for("outcome");
    QVERIFY(second);
    QCOMPARE(second->value("outcome").toString(), QStringLiteral("upgraded"));
    QVERIFY(second->value("serial") != first->value("serial"));

    // history reads the record beside the running station: both outcomes, newest first.
    const std::unique_ptr<QProcess> h = bench.start({"history", "--use-simulator", "--json"});
    Events rows(*h);
    QCOMPARE(exit_status(*h), 0);
    for (const std::optional<QJsonObject>& told : {second, first}) {
        const std::optional<QJsonObject> row = rows.wait_for("row");
        QVERIFY(row);
        QCOMPARE(row->value("serial"), told->value("serial"));
        QCOMPARE(row->value("outcome"), told->value("outcome"));
        QCOMPARE(row->value("firmware_key_id").toString(), carried("firmware.key_id"));
        QVERIFY(row->contains("port"));
    }

    QVERIFY(bench.detach()); // between units
    ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    QCOMPARE(exit_status(*p), 130);
}

// The recorder takes every row of this host still in progress for one an ended program left:
// only the lock, which keeps a second program of the mode out, makes that true. The second is
// refused before it opens the record, and the first one's row ends as it really did.
void TestUpgradeCommand::a_second_program_is_kept_out_while_rows_are_in_progress() {
    Bench bench;
    QVERIFY(bench.attach("older_revision", 3));
    const QStringList install{"install", "--use-simulator", "--json"};
    const std::unique_ptr<QProcess> first = bench.start(install);
    Events events(*first);
    QVERIFY(events.wait_for("progress", "download"));
    const auto newest_outcome = [&bench] {
        const std::unique_ptr<QProcess> h = bench.start({"history", "--use-simulator", "--json"});
        Events rows(*h);
        const std::optional<QJsonObject> row = rows.wait_for("row");
        exit_status(*h);
        return row ? row->value("outcome").toString() : QString();
    };
    QCOMPARE(newest_outcome(), QStringLiteral("in_progress"));

    const std::unique_ptr<QProcess> second = bench.start(install);
    QCOMPARE(exit_status(*second), 3);
    QCOMPARE(newest_outcome(), QStringLiteral("in_progress"));

    const std::optional<QJsonObject> told = events.wait_for("outcome");
    QVERIFY(told);
    QCOMPARE(told->value("outcome").toString(), QStringLiteral("upgraded"));
    QCOMPARE(exit_status(*first), 0);
    QCOMPARE(newest_outcome(), QStringLiteral("upgraded"));
}

void TestUpgradeCommand::version_names_the_carried_firmware_and_its_signer_data() {
    QTest::addColumn<bool>("json");
    QTest::newRow("for a person") << false;
    QTest::newRow("as JSON") << true;
}

// The program's version first, as scripts read it, then the carried firmware: its digest and
// its signer's key id, or "development, unsigned".
void TestUpgradeCommand::version_names_the_carried_firmware_and_its_signer() {
    QFETCH(bool, json);
    Bench bench;
    const std::unique_ptr<QProcess> p =
        bench.start(json ? QStringList{"--version", "--json"} : QStringList{"--version"});
    QCOMPARE(exit_status(*p), 0);
    const QString key_id = carried("firmware.key_id");
    const QString digest = carried("firmware.sha256");
    QVERIFY(!key_id.isEmpty() && !digest.isEmpty());
    const QStringList lines =
        QString::fromUtf8(p->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    if (!json) {
        QCOMPARE(lines.size(), 2);
        QVERIFY2(
            QRegularExpression("^orvanta-upgrade \\d+\\.\\d+\\.\\d+$").match(lines[0]).hasMatch(),
            qPrintable(lines[0]));
        QVERIFY2(lines[1].contains("SHA-256 " + digest), qPrintable(lines[1]));
        QVERIFY2(lines[1].endsWith(", " + Device::signer(key_id)), qPrintable(lines[1]));
        return;
    }
    QCOMPARE(lines.size(), 1);
    const QJsonObject version = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    QCOMPARE(version.value("event").toString(), QString("version"));
    QCOMPARE(version.value("program").toString(), QString("orvanta-upgrade"));
    QVERIFY(!version.value("version").toString().isEmpty());
    QCOMPARE(version.value("firmware_sha256").toString(), digest);
    QCOMPARE(version.value("firmware_key_id").toString(), key_id);
    QCOMPARE(version.value("firmware_signed").toBool(), key_id != Device::development_key_id());
}

namespace {

using PortOutcomes = QMap<QString, QString>; // port → outcome

// The outcomes told, by port, and the summary, once the program has ended.
PortOutcomes outcomes_by_port(const Events& events) {
    PortOutcomes told;
    for (const QJsonObject& o : events.all)
        if (o.value("event") == "outcome")
            told[o.value("port").toString()] = o.value("outcome").toString();
    return told;
}

QByteArray carried_image() {
    QFile f(":resources/firmware.bin");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// --all and --port: every unit (or those named) at once, each by its port, each told with its
// port, read back and compared on its own, and one summary with the exit status of the first
// port in port order that did not end well.
void TestUpgradeCommand::several_units_each_by_its_port_data() {
    QTest::addColumn<QString>("configuration");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<PortOutcomes>("outcomes");
    QTest::addColumn<int>("status");
    const PortOutcomes four_upgraded{
        {"1-1.1", "upgraded"}, {"1-1.2", "upgraded"}, {"1-1.3", "upgraded"}, {"1-1.4", "upgraded"}};
    PortOutcomes one_lost = four_upgraded;
    one_lost["1-1.3"] = "unit_lost";
    QTest::newRow("four units, one install") << "four_units" << QStringList{"install", "--all"}
                                             << four_upgraded << 0;
    QTest::newRow("one of four unplugged in its download")
        << "four_units_one_lost" << QStringList{"install", "--all"} << one_lost << 1;
    QTest::newRow("two units that report one serial")
        << "two_units_same_serial" << QStringList{"install", "--all"}
        << PortOutcomes{{"1-1.1", "upgraded"}, {"1-1.2", "upgraded"}} << 0;
    QTest::newRow("status of four")
        << "four_units" << QStringList{"status", "--all"}
        << PortOutcomes{{"1-1.1", "identified"}, {"1-1.2", "identified"}, {"1-1.3", "identified"},
                        {"1-1.4", "identified"}}
        << 0;
    QTest::newRow("verify of four never writes")
        << "four_units" << QStringList{"verify", "--all"}
        << PortOutcomes{{"1-1.1", "differs"}, {"1-1.2", "differs"}, {"1-1.3", "differs"},
                        {"1-1.4", "differs"}}
        << 1;
    QTest::newRow("only the ports named")
        << "four_units" << QStringList{"install", "--port", "1-1.4", "--port", "1-1.2"}
        << PortOutcomes{{"1-1.2", "upgraded"}, {"1-1.4", "upgraded"}} << 0;
    QTest::newRow("a port named that stays empty")
        << "four_units" << QStringList{"install", "--port", "1-1.2", "--port", "1-2", "--wait", "4"}
        << PortOutcomes{{"1-1.2", "upgraded"}, {"1-2", "no_unit"}} << 5;
}

void TestUpgradeCommand::several_units_each_by_its_port() {
    QFETCH(QString, configuration);
    QFETCH(QStringList, arguments);
    QFETCH(PortOutcomes, outcomes);
    QFETCH(int, status);
    Bench bench;
    QVERIFY(bench.attach(configuration, 1));
    const QByteArray before = bench.flash_at("1-1.1", carried_image().size());
    const std::unique_ptr<QProcess> p = bench.start(arguments + QStringList{"--use-simulator", "--json"});
    Events events(*p);
    const std::optional<QJsonObject> summary = events.wait_for("summary");
    QCOMPARE(exit_status(*p), status);
    events.drain();
    QCOMPARE(events.not_events, 0);
    QCOMPARE(outcomes_by_port(events), outcomes);
    QVERIFY(summary);
    QCOMPARE(summary->value("exit_status").toInt(), status);
    QCOMPARE(summary->value("units").toInt(), outcomes.size());
    for (const QJsonObject& o : events.all) {
        if (o.value("event") == "summary")
            continue;
        QVERIFY2(o.contains("port"), qPrintable(QJsonDocument(o).toJson()));
        if (configuration == "two_units_same_serial" && o.contains("serial"))
            QVERIFY(o.value("serial_shared").toBool());
    }
    for (auto it = outcomes.cbegin(); it != outcomes.cend(); ++it) {
        const QByteArray now = bench.flash_at(it.key(), carried_image().size());
        if (it.value() == "upgraded")
            QCOMPARE(now, carried_image());
        else if (it.key() == "1-1.1")
            QCOMPARE(now, before); // never written
    }
    if (!arguments.contains("install"))
        return;
    // Each attempt's row names its port: as many rows as units upgraded, one port each.
    const std::unique_ptr<QProcess> h = bench.start({"history", "--use-simulator", "--json"});
    Events rows(*h);
    QCOMPARE(exit_status(*h), 0);
    rows.drain();
    QSet<QString> ports;
    const QString shared = configuration == "two_units_same_serial" ? "1" : "0";
    for (const QJsonObject& r : rows.all) {
        ports << r.value("port").toString();
        QCOMPARE(r.value("outcome").toString(), outcomes.value(r.value("port").toString()));
        QCOMPARE(r.value("serial_shared").toString(), shared);
    }
    QCOMPARE(int(rows.all.size()), ports.size());
}

// Ctrl+C while four units download: every download and read-back runs to its end, each port
// tells what came of it, and the program ends with 130.
void TestUpgradeCommand::a_stop_during_four_downloads_lets_each_end() {
    Bench bench;
    QVERIFY(bench.attach("four_units", 3));
    const std::unique_ptr<QProcess> p =
        bench.start({"install", "--all", "--use-simulator", "--json"});
    Events events(*p);
    for (const char* port : {"1-1.1", "1-1.2", "1-1.3", "1-1.4"})
        QVERIFY(events.wait_for("progress", "download", port));
    ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    QCOMPARE(exit_status(*p), 130);
    events.drain();
    int told = 0;
    for (const QJsonObject& o : events.all) {
        if (o.value("event") != "outcome")
            continue;
        ++told;
        QCOMPARE(o.value("outcome").toString(), QString("stopped"));
        QCOMPARE(o.value("transfer").toString(), QString("written")); // never cut
        QCOMPARE(bench.flash_at(o.value("port").toString(), carried_image().size()), carried_image());
    }
    QCOMPARE(told, 4);
}

// --repeat --all: each port is a station of its own. A unit that comes while another port
// downloads is served at once; a unit that leaves and comes back on another port is a new unit
// there; the next unit on a port gets its own turn.
void TestUpgradeCommand::each_port_is_a_station_of_its_own() {
    FakeDfuUtil units; // writes the simulator's state: units plugged into sockets
    QVERIFY(units.set_configuration("no_unit"));
    units.set_download_seconds(3);
    units.set_upload_seconds(0);
    Bench bench(units.state_path());
    const std::unique_ptr<QProcess> p =
        bench.start({"install", "--all", "--repeat", "--use-simulator", "--json"});
    Events events(*p);
    const QByteArray otp = FakeDfuUtil::otp_image({3});
    units.attach("1-1.2", "3776367B5102", otp, FakeDfuUtil::flash_image({3}, "B7"));
    QVERIFY(events.wait_for("progress", "download", "1-1.2"));
    units.attach("1-1.1", "3776367B5101", otp, FakeDfuUtil::flash_image({3}, "B6"));
    QVERIFY(events.wait_for("unit", QString(), "1-1.1"));
    QVERIFY(!outcomes_by_port(events).contains("1-1.2")); // served while 1-1.2 still downloads
    for (const char* port : {"1-1.2", "1-1.1"}) {
        const std::optional<QJsonObject> o = events.wait_for("outcome", QString(), port);
        QVERIFY(o);
        QCOMPARE(o->value("outcome").toString(), QString("upgraded"));
    }

    units.detach("1-1.2"); // and plugged into another socket
    units.attach("1-1.3", "3776367B5102", otp, units.flash_at("1-1.2"));
    std::optional<QJsonObject> moved = events.wait_for("outcome", QString(), "1-1.3");
    QVERIFY(moved);
    QCOMPARE(moved->value("outcome").toString(), QString("already_current"));
    units.attach("1-1.2", "3776367B5103", otp, FakeDfuUtil::flash_image({3}, "B7"));
    std::optional<QJsonObject> next = events.wait_for("outcome", QString(), "1-1.2");
    QVERIFY(next);
    QCOMPARE(next->value("serial").toString(), QString("3776367B5103"));
    QCOMPARE(next->value("outcome").toString(), QString("upgraded"));

    ::kill(static_cast<pid_t>(p->processId()), SIGINT);
    QCOMPARE(exit_status(*p), 130);
}

// kill -9 while four units download: the next program that opens the record finds four rows
// interrupted in their downloads, one for each port.
void TestUpgradeCommand::a_kill_during_four_downloads_leaves_four_interrupted() {
    Bench bench;
    QVERIFY(bench.attach("four_units", 60));
    const std::unique_ptr<QProcess> p =
        bench.start({"install", "--all", "--use-simulator", "--json"});
    Events events(*p);
    for (const char* port : {"1-1.1", "1-1.2", "1-1.3", "1-1.4"})
        QVERIFY(events.wait_for("progress", "download", port));
    const auto rows = [&bench] {
        const std::unique_ptr<QProcess> h = bench.start({"history", "--use-simulator", "--json"});
        Events found(*h);
        exit_status(*h);
        found.drain();
        return found.all;
    };
    QTRY_VERIFY_WITH_TIMEOUT(rows().size() == 4 && rows().last().value("phase") == "download",
                             generous_ms);
    p->kill();
    QVERIFY(p->waitForFinished(generous_ms));
    QVERIFY(bench.attach("no_unit"));
    const std::unique_ptr<QProcess> next =
        bench.start({"install", "--wait", "1", "--use-simulator", "--json"});
    QCOMPARE(exit_status(*next), 5); // no unit; its record has been opened
    QSet<QString> ports;
    for (const QJsonObject& r : rows()) {
        QCOMPARE(r.value("outcome").toString(), QString("interrupted"));
        QCOMPARE(r.value("cause").toString(), QString("program ended during the download"));
        ports << r.value("port").toString();
    }
    QCOMPARE(ports, QSet<QString>({"1-1.1", "1-1.2", "1-1.3", "1-1.4"}));
}

// --metrics-file: after the outcomes, the file passes Prometheus' own check and counts the
// record's rows by port and outcome, also those of an earlier run (never a total in memory).
void TestUpgradeCommand::the_metrics_file_is_what_node_exporter_reads() {
    const QString promtool = QStandardPaths::findExecutable("promtool");
    if (promtool.isEmpty())
        QSKIP("promtool is not installed (Debian package prometheus; tools/install_deps.sh)");
    Bench bench;
    const QString metrics = bench.dir.filePath("station.prom");
    for (const char* configuration : {"four_units", "four_units_one_lost"}) {
        QVERIFY(bench.attach(configuration, 1));
        const std::unique_ptr<QProcess> p = bench.start(
            {"install", "--all", "--use-simulator", "--json", "--metrics-file", metrics});
        exit_status(*p);
    }
    QFile file(metrics);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QProcess check;
    check.setStandardInputFile(metrics);
    check.start(promtool, {"check", "metrics"});
    QVERIFY(check.waitForFinished(generous_ms));
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    for (const char* line : {"orvanta_upgrade_outcomes_total{port=\"1-1.1\",outcome=\"upgraded\"} 2",
                             "orvanta_upgrade_outcomes_total{port=\"1-1.3\",outcome=\"unit_lost\"} 1",
                             "orvanta_upgrade_outcomes_total{port=\"1-1.3\",outcome=\"upgraded\"} 1",
                             "orvanta_upgrade_units_in_progress 0"})
        QVERIFY2(text.contains(QLatin1String(line)), qPrintable(text));
    QVERIFY(text.contains("orvanta_upgrade_last_duration_seconds{port=\"1-1.4\"}"));
    QVERIFY(!QDir(bench.dir.path()).entryList({"station.prom.*"}).size()); // no temporary left
}

QTEST_GUILESS_MAIN(TestUpgradeCommand)
#include "test_upgrade_command.moc"
