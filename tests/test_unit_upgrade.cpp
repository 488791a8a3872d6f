// One unit's upgrade as both programs make it, with the program's record, against the fake
// dfu-util, without a window: which row each outcome of an attempt writes.

#include "dfu/runner.h"
#include "fake_dfu_util.h"
#include "history/store.h"
#include "upgrade/program_record.h"
#include "upgrade/unit_upgrade.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

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

// The program's record and one unit's upgrade, polling fast, as the programs make them.
struct Bench {
    explicit Bench(const QString& path, const Upgrade::UnitSelector& unit = {}) {
        Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin}, true);
        record = std::make_unique<Upgrade::ProgramRecord>(path, QString());
        Upgrade::UnitUpgrade::Setup setup;
        setup.unit = unit;
        setup.pace.no_device_delay_ms = 20;
        setup.pace.connected_delay_ms = 20;
        upgrade = std::make_unique<Upgrade::UnitUpgrade>(setup, record.get());
        record->start();
        upgrade->start();
    }
    ~Bench() {
        upgrade->finish();
        record->finish();
    }
    bool in(QState* state) const { return upgrade->machine()->configuration().contains(state); }
    // The click on install, once the machine offers it.
    bool install() {
        if (!QTest::qWaitFor([this] { return in(upgrade->machine()->B2); }, generous_ms))
            return false;
        upgrade->machine()->do_download();
        return true;
    }

    std::unique_ptr<Upgrade::ProgramRecord> record;
    std::unique_ptr<Upgrade::UnitUpgrade> upgrade;
};

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
                                         << "dfu-util: Error during download" << true << false;
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
                QTRY_VERIFY_WITH_TIMEOUT(bench.upgrade->worker()->transfer_report().running ==
                                             SM_A::Transfer::download,
                                         generous_ms);
                bench.upgrade->stop(1000);
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
        QVERIFY(!r.uuid.isEmpty());
        QVERIFY(r.started_at >= start && r.started_at <= r.ended_at);
        QVERIFY(r.ended_at <= QDateTime::currentDateTimeUtc());
        QCOMPARE(r.host, QSysInfo::machineHostName());
        QVERIFY(!r.user.isEmpty() && !r.tool_version.isEmpty());
    }

};

QTEST_GUILESS_MAIN(TestUnitUpgrade)
#include "test_unit_upgrade.moc"
