// One unit's upgrade as both programs make it, with the program's record, against the fake
// dfu-util, without a window: which row each outcome of an attempt writes; and several units'
// upgrades in one program, each on its own port, neither confusing nor holding up the others.

#include "dfu/runner.h"
#include "fake_dfu_util.h"
#include "message_log.h"
#include "signal_counter.h"
#include "history/store.h"
#include "upgrade/port_watch.h"
#include "upgrade/program_record.h"
#include "upgrade/unit_upgrade.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed
const QString serial = QStringLiteral("3776367B3036");

// Newest first, as another program reads them.
std::vector<History::UpgradeRow> rows_of(const QString& path) {
    History::Store store(path);
    History::Trouble trouble;
    QString moved;
    return store.open(&moved) ? std::vector<History::UpgradeRow>()
                              : store.rows(QString(), &trouble);
}

bool has_ended_row(const QString& path) {
    const std::vector<History::UpgradeRow> rows = rows_of(path);
    return !rows.empty() && rows.front().outcome != "in_progress";
}

QString sha256_of_carried_dfuse_file() {
    QFile f(":resources/firmware.dfu");
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(
        QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
}

// As the build's firmware check wrote it: the signer's key id, or "development, unsigned".
QString key_id_of_carried_firmware() {
    QFile f(":resources/firmware.key_id");
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll().trimmed());
}

std::unique_ptr<Upgrade::UnitUpgrade> make_upgrade(Upgrade::ProgramRecord* record,
                                                   const QString& port = QString()) {
    Upgrade::UnitUpgrade::Setup setup;
    setup.unit.port = port;
    setup.pace.no_device_delay_ms = 20;
    setup.pace.connected_delay_ms = 20;
    return std::make_unique<Upgrade::UnitUpgrade>(setup, record);
}

bool in(const Upgrade::UnitUpgrade& u, QState* state) {
    return u.machine()->configuration().contains(state);
}

// The click on install, once the machine offers it.
bool install(Upgrade::UnitUpgrade& u) {
    if (!QTest::qWaitFor([&u] { return in(u, u.machine()->B2); }, generous_ms))
        return false;
    u.machine()->do_download();
    return true;
}

// The program's record and units' upgrades on the given ports (none: the one unit attached),
// polling fast, as the programs make them.
struct Bench {
    explicit Bench(const QString& path, const QStringList& ports = {QString()}) {
        Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin}, true);
        record = std::make_unique<Upgrade::ProgramRecord>(path, QString());
        for (const QString& port : ports)
            upgrades.push_back(make_upgrade(record.get(), port));
        record->start();
        for (auto& u : upgrades)
            u->start();
    }
    ~Bench() {
        for (auto& u : upgrades)
            u->finish();
        record->finish();
    }
    Upgrade::UnitUpgrade& unit(int i = 0) { return *upgrades[size_t(i)]; }
    bool install() { return ::install(unit()); }
    bool downloading(int i) {
        return unit(i).worker()->transfer_report().running == SM_A::Transfer::download;
    }

    std::unique_ptr<Upgrade::ProgramRecord> record;
    std::vector<std::unique_ptr<Upgrade::UnitUpgrade>> upgrades;
};

const QString port_a = QStringLiteral("1-1.1");
const QString port_b = QStringLiteral("1-1.2");
const QString serial_b = QStringLiteral("2F1E3A4B5C6D");

// The carried firmware with a few bytes changed after its information block: the carried
// revision, other bytes.
QByteArray desired_with_other_bytes() {
    QByteArray image = FakeDfuUtil::desired_firmware();
    for (const int at : {4096, 131072})
        image[at] = char(~image[at]);
    return image;
}

// Two Lumo-7 units on two ports of a hub, the given flash each.
void attach_two(FakeDfuUtil& fake, const QByteArray& flash_a, const QByteArray& flash_b) {
    fake.attach(port_a, serial, FakeDfuUtil::otp_image({3}), flash_a);
    fake.attach(port_b, serial_b, FakeDfuUtil::otp_image({3}), flash_b);
}

} // namespace

Q_DECLARE_METATYPE(FakeDfuUtil::Switch)

class TestUnitUpgrade : public QObject {
    Q_OBJECT

private slots:
    void init() { DFU::runner::reset_give_up(); }

    void each_outcome_writes_its_row_data() {
        QTest::addColumn<QString>("flash");  // B7, B8 (other bytes) or desired
        QTest::addColumn<QString>("fault");  // a switch of the fake, or empty
        QTest::addColumn<QString>("action"); // install, none or stop (Escape in the download)
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("cause"); // its beginning
        QTest::addColumn<bool>("download_ms");
        QTest::addColumn<bool>("readback_ms");
        QTest::newRow("upgraded") << "B7"
                                  << ""
                                  << "install"
                                  << "upgraded"
                                  << "B7"
                                  << "B8"
                                  << "" << true << true;
        QTest::newRow("already current") << "desired"
                                         << ""
                                         << "none"
                                         << "already_current"
                                         << "B8"
                                         << "B8"
                                         << "" << false << true;
        QTest::newRow("differs on connection") << "B8"
                                               << ""
                                               << "none"
                                               << "differs"
                                               << "B8"
                                               << ""
                                               << "" << false << true;
        QTest::newRow("differs after the install") << "B7"
                                                   << "download_keeps_flash"
                                                   << "install"
                                                   << "differs"
                                                   << "B7"
                                                   << ""
                                                   << "" << true << false;
        QTest::newRow("download failed") << "B7"
                                         << "fail_download"
                                         << "install"
                                         << "download_failed"
                                         << "B7"
                                         << ""
                                         << "dfu-util: ERASE_PAGE not correctly executed" << true << false;
        QTest::newRow("read-back failed on connection") << "desired"
                                                        << "fail_upload_FW"
                                                        << "none"
                                                        << "readback_failed"
                                                        << "B8"
                                                        << ""
                                                        << "dfu-util:" << false << true;
        QTest::newRow("read-back failed after the install") << "B7"
                                                            << "fail_upload_FW"
                                                            << "install"
                                                            << "readback_failed"
                                                            << "B7"
                                                            << ""
                                                            << "dfu-util:" << true << true;
        QTest::newRow("unit lost") << "B7"
                                   << "lose_unit_on_download"
                                   << "install"
                                   << "unit_lost"
                                   << "B7"
                                   << ""
                                   << "dfu-util:" << true << false;
        QTest::newRow("stopped") << "B7"
                                 << ""
                                 << "stop"
                                 << "stopped"
                                 << "B7"
                                 << ""
                                 << "" << true << false;
    }
    void each_outcome_writes_its_row() {
        QFETCH(QString, flash);
        QFETCH(QString, fault);
        QFETCH(QString, action);
        QFETCH(QString, outcome);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, cause);
        QFETCH(bool, download_ms);
        QFETCH(bool, readback_ms);
        FakeDfuUtil fake;
        fake.set_otp(FakeDfuUtil::otp_image({3}), serial);
        fake.set_flash(flash == "desired" ? FakeDfuUtil::desired_firmware()
                                          : FakeDfuUtil::flash_image({3}, flash),
                       serial);
        fake.set_units({serial});
        if (!fault.isEmpty()) {
            const auto meta = QMetaEnum::fromType<FakeDfuUtil::Switch>();
            fake.fail(FakeDfuUtil::Switch(meta.keyToValue(qPrintable(fault))));
        }
        if (action == "stop")
            fake.set_download_seconds(2); // the stop comes while it runs
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        const QDateTime start = QDateTime::currentDateTimeUtc().addMSecs(-1);
        {
            Bench bench(path);
            if (action != "none")
                QVERIFY(bench.install());
            if (action == "stop") {
                QTRY_VERIFY_WITH_TIMEOUT(bench.downloading(0), generous_ms);
                bench.unit().stop(1000);
            }
            QTRY_VERIFY_WITH_TIMEOUT(has_ended_row(path), generous_ms);
            QTest::qWait(300); // nothing more is written for this unit
        }
        const std::vector<History::UpgradeRow> rows = rows_of(path);
        QCOMPARE(int(rows.size()), 1);
        const History::UpgradeRow& r = rows.front();
        QCOMPARE(r.outcome, outcome);
        QCOMPARE(r.serial, serial);
        QCOMPARE(r.product, QString("Lumo-7"));
        QCOMPARE(r.revision_before, before);
        QCOMPARE(r.revision_after, after);
        QVERIFY2(cause.isEmpty() ? r.cause.isEmpty() : r.cause.startsWith(cause),
                 qPrintable(r.cause));
        QCOMPARE(r.download_ms.has_value(), download_ms);
        QCOMPARE(r.readback_ms.has_value(), readback_ms);
        QCOMPARE(r.firmware_sha256, sha256_of_carried_dfuse_file());
        QVERIFY(!key_id_of_carried_firmware().isEmpty());
        QCOMPARE(r.firmware_key_id, key_id_of_carried_firmware());
        QCOMPARE(r.port, QString("1-1")); // the listing's, also for the one unit attached
        QVERIFY(!r.uuid.isEmpty());
        QVERIFY(r.started_at >= start && r.started_at <= r.ended_at);
        QVERIFY(r.ended_at <= QDateTime::currentDateTimeUtc());
        QCOMPARE(r.host, QSysInfo::machineHostName());
        QVERIFY(!r.user.isEmpty() && !r.tool_version.isEmpty());
    }


    // Each unit's upgrade names its port on every dfu-util run and reads back into a folder of
    // its own: two units at once each end with their own outcome, and each read-back holds
    // its own unit's bytes, whatever the other unit holds or does meanwhile.
    void two_units_each_upgrade_their_own_at_once_data() {
        QTest::addColumn<QByteArray>("flash_b");
        QTest::addColumn<QString>("outcome_b");
        QTest::newRow("two installs") << FakeDfuUtil::flash_image({3}, "B6") << "upgraded";
        QTest::newRow("an install beside a verification that differs")
            << desired_with_other_bytes() << "differs";
    }
    void two_units_each_upgrade_their_own_at_once() {
        QFETCH(QByteArray, flash_b);
        QFETCH(QString, outcome_b);
        FakeDfuUtil fake;
        attach_two(fake, FakeDfuUtil::flash_image({3}, "B7"), flash_b);
        fake.set_download_seconds(2);
        fake.set_upload_seconds(2);
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        Bench bench(path, {port_a, port_b});
        QVERIFY(install(bench.unit(0)));
        if (outcome_b == "upgraded")
            QVERIFY(install(bench.unit(1)));
        // Both transfers under way at one moment: neither waits for the other's.
        QTRY_VERIFY_WITH_TIMEOUT(bench.downloading(0) &&
                                     bench.unit(1).worker()->transfer_report().running !=
                                         SM_A::Transfer::none,
                                 generous_ms);
        QTRY_VERIFY_WITH_TIMEOUT(rows_of(path).size() == 2 && has_ended_row(path) &&
                                     rows_of(path).back().outcome != "in_progress",
                                 generous_ms);
        QMap<QString, QString> outcomes;
        for (const History::UpgradeRow& r : rows_of(path))
            outcomes[r.port + ' ' + r.serial] = r.outcome;
        QCOMPARE(outcomes.value(port_a + ' ' + serial), QString("upgraded"));
        QCOMPARE(outcomes.value(port_b + ' ' + serial_b), outcome_b);
        QCOMPARE(fake.flash_at(port_a), FakeDfuUtil::desired_firmware());
        for (int i : {0, 1}) {
            const QString port = i == 0 ? port_a : port_b;
            QFile read_back(bench.unit(i).working_folder() + "/uploaded_FW.bin");
            QVERIFY(read_back.open(QIODevice::ReadOnly));
            QCOMPARE(read_back.readAll(), fake.flash_at(port).left(int(read_back.size())));
        }
        QVERIFY(bench.unit(0).working_folder() != bench.unit(1).working_folder());
        for (const QStringList& run : fake.recorded_runs())
            QVERIFY2(run.contains("-p") && run.indexOf("-p") == run.size() - 2, qPrintable(run.join(' ')));
    }

    // A stop gives up only its own unit's short runs and waits for its own transfer: the other
    // unit's download runs on, is verified and recorded.
    void stopping_one_unit_in_its_download_leaves_the_other_alone() {
        FakeDfuUtil fake;
        attach_two(fake, FakeDfuUtil::flash_image({3}, "B7"), FakeDfuUtil::flash_image({3}, "B6"));
        fake.set_download_seconds(2);
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        MessageLog log;
        Bench bench(path, {port_a, port_b});
        QVERIFY(install(bench.unit(0)));
        QVERIFY(install(bench.unit(1)));
        QTRY_VERIFY_WITH_TIMEOUT(bench.downloading(0) && bench.downloading(1), generous_ms);
        QVERIFY(!bench.unit(0).stop(0)); // its download runs to its end
        QTRY_VERIFY_WITH_TIMEOUT(bench.unit(0).worker()->isFinished(), generous_ms);
        QTRY_VERIFY_WITH_TIMEOUT(in(bench.unit(1), bench.unit(1).machine()->B6), generous_ms);
        QCOMPARE(log.count("Giving up on"), 0); // no child was killed
        QCOMPARE(fake.flash_at(port_a), FakeDfuUtil::desired_firmware()); // written whole
        QCOMPARE(fake.flash_at(port_b), FakeDfuUtil::desired_firmware());
        QTRY_VERIFY_WITH_TIMEOUT(rows_of(path).size() == 2 && has_ended_row(path), generous_ms);
        QMap<QString, QString> outcomes;
        for (const History::UpgradeRow& r : rows_of(path))
            outcomes[r.serial] = r.outcome;
        QCOMPARE(outcomes.value(serial), QString("stopped"));
        QCOMPARE(outcomes.value(serial_b), QString("upgraded"));
    }

    // The port watch lists from its own thread and hands each listing over under its mutex:
    // units plugged in and pulled out while it polls are seen on their ports, with their
    // serials, two of them alike, and a unit without a usable listing is not among them.
    void the_port_watch_sees_units_come_and_go_on_their_ports() {
        FakeDfuUtil fake;
        attach_two(fake, FakeDfuUtil::flash_image({3}, "B7"), FakeDfuUtil::flash_image({3}, "B6"));
        Upgrade::PortWatch watch(20);
        SignalCounter listed(&watch, &Upgrade::PortWatch::listed);
        watch.start();
        const auto ports = [&watch] {
            QStringList seen;
            for (const DFU::DeviceItem& unit : watch.listing().units)
                seen << unit.path + ' ' + unit.serial;
            return seen;
        };
        QTRY_COMPARE_WITH_TIMEOUT(ports(), QStringList({port_a + ' ' + serial, port_b + ' ' + serial_b}),
                                  generous_ms);
        fake.attach("1-1.3", serial, FakeDfuUtil::otp_image({3}), FakeDfuUtil::flash_image({3}, "B7"));
        QTRY_COMPARE_WITH_TIMEOUT(Upgrade::units_with_serial(watch.listing(), serial), 2, generous_ms);
        fake.detach(port_a);
        QTRY_COMPARE_WITH_TIMEOUT(ports(), QStringList({port_b + ' ' + serial_b, "1-1.3 " + serial}),
                                  generous_ms);
        QVERIFY(listed.count() >= 3); // once a listing
        watch.stop();
        QVERIFY(watch.wait(generous_ms));
    }

    // Killed (-9) with two units in their downloads: the next program finds exactly two rows
    // interrupted, one for each unit.
    void a_kill_during_two_downloads_leaves_two_attempts_interrupted() {
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", home.path()); // what the child leaves goes with this directory
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--two-downloads", path});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).contains("downloading") ||
                                     child.state() == QProcess::NotRunning,
                                 generous_ms);
        QVERIFY2(out.contains("downloading"), out.constData());
        child.kill();
        QVERIFY(child.waitForFinished(generous_ms));
        {
            Upgrade::ProgramRecord record(path, QString());
            QSignalSpy kept(&record, &Upgrade::ProgramRecord::state_changed);
            record.start();
            QTRY_VERIFY_WITH_TIMEOUT(!kept.isEmpty() && kept.last().at(0).value<History::RecorderState>().kind ==
                                         History::RecorderState::Kind::kept,
                                     generous_ms);
        }
        const std::vector<History::UpgradeRow> rows = rows_of(path);
        QCOMPARE(int(rows.size()), 2);
        QSet<QString> units;
        for (const History::UpgradeRow& r : rows) {
            QCOMPARE(r.outcome, QString("interrupted"));
            QCOMPARE(r.cause, QString("program ended during the download"));
            units << r.port + ' ' + r.serial;
        }
        QCOMPARE(units, QSet<QString>({port_a + ' ' + serial, port_b + ' ' + serial_b}));
    }
};

// The child of the kill test: two units' upgrades in one program, each in its download, whose
// rows are written ahead; killed there.
int two_downloads(const QString& path) {
    FakeDfuUtil fake;
    attach_two(fake, FakeDfuUtil::flash_image({3}, "B7"), FakeDfuUtil::flash_image({3}, "B6"));
    fake.set_download_seconds(30);
    Bench bench(path, {port_a, port_b});
    if (!install(bench.unit(0)) || !install(bench.unit(1)))
        return 2;
    const auto both_in_download = [&path] {
        const std::vector<History::UpgradeRow> rows = rows_of(path);
        return rows.size() == 2 && rows[0].phase == "download" && rows[1].phase == "download";
    };
    if (!QTest::qWaitFor(both_in_download, generous_ms))
        return 3;
    std::puts("downloading");
    std::fflush(stdout);
    QTest::qWaitFor([] { return false; }, generous_ms); // killed here
    return 4;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--two-downloads")
        return two_downloads(QString::fromLocal8Bit(argv[2]));
    TestUnitUpgrade test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_unit_upgrade.moc"
