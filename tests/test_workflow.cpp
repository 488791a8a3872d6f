// The worker and the upgrade state machine together, headless, against the fake dfu-util.

#include "dfu/runner.h"
#include "fake_dfu_util.h"
#include "message_log.h"
#include "signal_counter.h"
#include "workflow/guarded_transition.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"
#include "upgrade/unit_upgrade.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Device::memory_map;

namespace {

const QString serial_A = QStringLiteral("3776367B3036");
const QString serial_B = QStringLiteral("2F1E3A4B5C6D");
constexpr int generous_ms = 30000; // bounds waits; nothing here measures speed
// The arguments that name the OTP read and the desired firmware's read-back.
const QString otp_region = region_text(otp_address, otp_length);
const QString read_back_region = region_text(flash_base, 400308);

QByteArray otp_of(quint8 type) { return FakeDfuUtil::otp_image({type}); }
QByteArray flash_of(quint8 type, const QString& revision) {
    return FakeDfuUtil::flash_image({type}, revision);
}

// How many of the fake's recorded runs had the argument.
int runs_with(const FakeDfuUtil& fake, const QString& arg) {
    int n = 0;
    for (const QStringList& run : fake.recorded_runs())
        n += run.contains(arg) ? 1 : 0;
    return n;
}

// One unit's upgrade as both programs make it, without a record, with short delays, and a
// record of every signal its machine emits (in the GUI thread, in order).
class Workflow {
public:
    explicit Workflow(FakeDfuUtil& fake_) : fake(fake_) {
        Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin}, true);
        Upgrade::UnitUpgrade::Setup setup;
        setup.pace.no_device_delay_ms = 20;
        setup.pace.connected_delay_ms = 20;
        setup.debug_output = false;
        upgrade = std::make_unique<Upgrade::UnitUpgrade>(setup, nullptr);
        a = upgrade->worker();
        b = upgrade->machine();
        const std::pair<void (SM_B::*)(), const char*> signals_of_B[] = {
            {&SM_B::sig_UpgradeImpossible, "UpgradeImpossible"},
            {&SM_B::sig_UpgradePossible, "UpgradePossible"},
            {&SM_B::sig_DifferingRevision, "DifferingRevision"},
            {&SM_B::sig_DoDownload, "DoDownload"},
            {&SM_B::sig_UploadingVerifying, "UploadingVerifying"},
            {&SM_B::sig_FwMatches, "FwMatches"},
            {&SM_B::sig_FwDiffers, "FwDiffers"},
            {&SM_B::sig_DeviceConnected, "DeviceConnected"},
            {&SM_B::sig_InvalidProduct, "InvalidProduct"},
        };
        for (const auto& [signal, name] : signals_of_B) {
            const QString n = QString::fromLatin1(name);
            QObject::connect(b, signal, b, [this, n] { emitted << n; });
        }
    }
    ~Workflow() { upgrade.reset(); } // stops and joins the worker
    void start() { upgrade->start(); }
    bool in(QState* s) const { return b->configuration().contains(s); }
    int count(const QString& name) const { return emitted.count(name); }
    // Signals emitted since the mark.
    QStringList since(int mark) const { return emitted.mid(mark); }
    // Download runs recorded so far.
    int downloads() const { return runs_with(fake, "-D"); }
    int firmware_uploads() const { return runs_with(fake, read_back_region); }

    FakeDfuUtil& fake;
    std::unique_ptr<Upgrade::UnitUpgrade> upgrade;
    SM_A* a = nullptr; // the upgrade's
    SM_B* b = nullptr;
    QStringList emitted;
};

void attach(FakeDfuUtil& fake, const QString& serial, quint8 type, const QByteArray& flash) {
    fake.set_otp(otp_of(type), serial);
    fake.set_flash(flash, serial);
    fake.set_units({serial});
}

} // namespace

Q_DECLARE_METATYPE(FakeDfuUtil::Switch)
Q_DECLARE_METATYPE(Explanation::Kind)

class TestWorkflow : public QObject {
    Q_OBJECT

private slots:
    void init() { DFU::runner::reset_give_up(); }

    void start_without_unit_says_upgrade_impossible_once() {
        FakeDfuUtil fake;
        Workflow w(fake);
        SignalCounter polls(w.a, &SM_A::sig_NoDevConn);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(polls.count() >= 5, generous_ms);
        QVERIFY(w.in(w.b->B1));
        QCOMPARE(w.emitted, QStringList{"UpgradeImpossible"});
        QVERIFY(!w.b->device_info.valid);
    }

    void another_product_is_refused_and_install_does_nothing() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 43, flash_of(43, "B8")); // a K5 unit
        Workflow w(fake);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B8), generous_ms);
        QCOMPARE(w.emitted, QStringList({"UpgradeImpossible", "DeviceConnected", "InvalidProduct"}));
        QCOMPARE(int(w.b->device_info.type), 43);
        w.b->do_download();
        SignalCounter scans(w.a, &SM_A::sig_scanning);
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 5, generous_ms);
        QVERIFY(w.in(w.b->B8));
        QCOMPARE(w.downloads(), 0);
    }

    void other_revision_is_upgraded_re_read_and_verified() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        Workflow w(fake);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B2), generous_ms);
        QCOMPARE(w.b->device_info.FW_revision, QString("B7"));
        const int mark = w.emitted.size();
        w.b->do_download();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B6), generous_ms);
        QCOMPARE(w.since(mark), QStringList({"DoDownload", "UpgradeImpossible", "DeviceConnected",
                                             "UploadingVerifying", "FwMatches"}));
        QCOMPARE(w.downloads(), 1);
        QCOMPARE(w.firmware_uploads(), 1);
        QCOMPARE(w.b->device_info.FW_revision, QString("B8"));
        QVERIFY(fake.flash(serial_A) == FakeDfuUtil::desired_firmware());
    }

    void desired_revision_is_verified_without_being_asked() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, FakeDfuUtil::desired_firmware());
        Workflow w(fake);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B6), generous_ms);
        QCOMPARE(w.emitted, QStringList({"UpgradeImpossible", "DeviceConnected",
                                         "UploadingVerifying", "FwMatches"}));
        QCOMPARE(w.downloads(), 0);
        QCOMPARE(w.firmware_uploads(), 1);
    }

    // Nothing reaches the success state without a byte-for-byte match.
    void failed_verification_offers_install_again_data() {
        QTest::addColumn<bool>("upload_fails");
        QTest::newRow("same revision, other bytes") << false;
        QTest::newRow("read-back fails") << true;
    }
    void failed_verification_offers_install_again() {
        QFETCH(bool, upload_fails);
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, upload_fails ? FakeDfuUtil::desired_firmware() : flash_of(3, "B8"));
        if (upload_fails)
            fake.fail(FakeDfuUtil::Switch::fail_upload_FW);
        Workflow w(fake);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B7), generous_ms);
        QCOMPARE(w.emitted, QStringList({"UpgradeImpossible", "DeviceConnected",
                                         "UploadingVerifying", "UpgradePossible", "FwDiffers"}));
        QCOMPARE(w.count("FwMatches"), 0);
        // Differing bytes and an unreadable unit are not explained alike.
        QCOMPARE(w.b->explanation.kind, upload_fails ? Explanation::Kind::read_back_failed
                                                     : Explanation::Kind::firmware_differs);
        // Install from B7 downloads; the re-read unit is verified again.
        fake.clear(FakeDfuUtil::Switch::fail_upload_FW);
        w.b->do_download();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B6), generous_ms);
        QCOMPARE(w.downloads(), 1);
    }

    // The last upgrade that did not complete is told until a verification matches, and is not
    // another unit's business.
    void a_failed_download_is_explained_until_it_is_made_good_data() {
        QTest::addColumn<bool>("swap_unit");
        QTest::newRow("installed again") << false;
        QTest::newRow("another unit connected") << true;
    }
    void a_failed_download_is_explained_until_it_is_made_good() {
        QFETCH(bool, swap_unit);
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        fake.fail(FakeDfuUtil::Switch::fail_download, 1);
        Workflow w(fake);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B2), generous_ms);
        QCOMPARE(w.b->explanation.kind, Explanation::Kind::none);
        w.b->do_download();
        QTRY_VERIFY_WITH_TIMEOUT(w.downloads() == 1 && w.in(w.b->B2) &&
                                     w.b->explanation.kind == Explanation::Kind::upgrade_incomplete,
                                 generous_ms);
        QCOMPARE(w.b->explanation.failure.detail, QString("dfu-util: ERASE_PAGE not correctly executed"));
        if (swap_unit) {
            attach(fake, serial_B, 3, flash_of(3, "B6"));
            QTRY_VERIFY_WITH_TIMEOUT(w.b->device_info.FW_revision == "B6", generous_ms);
            QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B2), generous_ms);
        } else {
            w.b->do_download();
            QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B6), generous_ms);
        }
        QCOMPARE(w.b->explanation.kind, Explanation::Kind::none);
    }

    // A unit whose OTP area was read but holds no usable record is read once while it stays
    // attached; plugged in again, it is read again.
    void a_unit_without_record_is_read_once_data() {
        QTest::addColumn<QByteArray>("otp");
        QTest::addColumn<QString>("message");
        QTest::newRow("no product") << otp_of(0) << "Device not used, has invalid info in its OTP info.";
        QTest::newRow("unknown product") << otp_of(0x2A) << "Unknown device type according to OTP info, ";
    }
    void a_unit_without_record_is_read_once() {
        QFETCH(QByteArray, otp);
        QFETCH(QString, message);
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        fake.set_otp(otp, serial_A);
        MessageLog log;
        Workflow w(fake);
        SignalCounter scans(w.a, &SM_A::sig_scanning);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 10, generous_ms);
        QCOMPARE(runs_with(fake, otp_region), 1);
        QCOMPARE(log.count(message), 1);
        QTRY_VERIFY_WITH_TIMEOUT(w.b->explanation.kind == Explanation::Kind::no_record, generous_ms);
        QVERIFY(w.in(w.b->B1));

        fake.set_units({});
        QTRY_VERIFY_WITH_TIMEOUT(w.b->explanation.kind == Explanation::Kind::none, generous_ms);
        fake.set_units({serial_A});
        QTRY_VERIFY_WITH_TIMEOUT(runs_with(fake, otp_region) == 2, generous_ms);
        QTRY_COMPARE_WITH_TIMEOUT(log.count(message), 2, generous_ms);
    }

    // A failure that repeats on every poll is logged once, and again when it changes; the window
    // is told what to say about it.
    void a_repeated_failure_is_logged_once_data() {
        QTest::addColumn<FakeDfuUtil::Switch>("failure");
        QTest::addColumn<int>("exit_lines"); // the runner's: only for the first attempt to read
        QTest::addColumn<Explanation::Kind>("kind");
        QTest::newRow("listing fails") << FakeDfuUtil::Switch::fail_list << 0
                                       << Explanation::Kind::listing_failed;
        QTest::newRow("no access") << FakeDfuUtil::Switch::deny_access << 0
                                   << Explanation::Kind::no_access;
        QTest::newRow("unit busy") << FakeDfuUtil::Switch::busy << 1 << Explanation::Kind::busy;
        QTest::newRow("OTP unreadable") << FakeDfuUtil::Switch::fail_upload_OTP << 1
                                        << Explanation::Kind::unreadable;
    }
    void a_repeated_failure_is_logged_once() {
        QFETCH(FakeDfuUtil::Switch, failure);
        QFETCH(int, exit_lines);
        QFETCH(Explanation::Kind, kind);
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        fake.fail(failure);
        MessageLog log;
        Workflow w(fake);
        SignalCounter scans(w.a, &SM_A::sig_scanning);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 10, generous_ms);
        QCOMPARE(log.count("SM_A: situation:"), 1);
        QCOMPARE(log.count("Exit with"), exit_lines);
        QTRY_VERIFY_WITH_TIMEOUT(w.b->explanation.kind == kind, generous_ms);
        QVERIFY(w.in(w.b->B1));

        fake.clear(failure);
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B2), generous_ms);
        QCOMPARE(log.count("SM_A: situation: unit connected"), 1);
        QCOMPARE(w.b->explanation.kind, Explanation::Kind::none);
    }

    void without_working_files_nothing_runs() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        Workflow w(fake);
        w.a->run_nothing("/dev/null", "Not a directory");
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.b->explanation.kind == Explanation::Kind::no_working_files,
                                 generous_ms);
        QCOMPARE(w.b->explanation.where, QString("/dev/null"));
        QCOMPARE(w.b->explanation.why, QString("Not a directory"));
        w.a->do_stop();
        QVERIFY(w.a->wait(generous_ms));
        QCOMPARE(fake.recorded_runs(), QList<QStringList>());
        QCOMPARE(w.emitted, QStringList{"UpgradeImpossible"});
    }

    void unplugging_returns_to_the_initial_state_data() {
        QTest::addColumn<QString>("state");
        QTest::newRow("B2") << "B2";
        QTest::newRow("B3") << "B3";
        QTest::newRow("B6") << "B6";
        QTest::newRow("B7") << "B7";
        QTest::newRow("B8") << "B8";
    }
    void unplugging_returns_to_the_initial_state() {
        QFETCH(QString, state);
        FakeDfuUtil fake;
        if (state == "B2" || state == "B3")
            attach(fake, serial_A, 3, flash_of(3, "B7"));
        else if (state == "B6")
            attach(fake, serial_A, 3, FakeDfuUtil::desired_firmware());
        else if (state == "B7")
            attach(fake, serial_A, 3, flash_of(3, "B8"));
        else
            attach(fake, serial_A, 132, flash_of(132, "B8"));
        if (state == "B3")
            fake.set_download_seconds(2); // long enough to unplug during the download
        Workflow w(fake);
        QState* target = nullptr;
        for (QState* s : {w.b->B2, w.b->B3, w.b->B6, w.b->B7, w.b->B8})
            if (s->objectName().startsWith(state + ":"))
                target = s;
        QVERIFY(target);
        w.start();
        if (state == "B3") {
            QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B2), generous_ms);
            w.b->do_download();
            QTRY_VERIFY_WITH_TIMEOUT(runs_with(fake, "-D") == 1, generous_ms);
        }
        QTRY_VERIFY_WITH_TIMEOUT(w.in(target), generous_ms);
        const int impossible = w.count("UpgradeImpossible");
        fake.set_units({});
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B1), generous_ms);
        QCOMPARE(w.count("UpgradeImpossible"), impossible + 1);
        QVERIFY(!w.b->device_info.valid);
    }

    void unit_swapped_between_two_scans_is_evaluated_anew() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        Workflow w(fake);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B2), generous_ms);
        const int mark = w.emitted.size();
        attach(fake, serial_B, 43, flash_of(43, "B1")); // replaces A at once
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B8), generous_ms);
        QCOMPARE(w.since(mark), QStringList({"UpgradeImpossible", "DeviceConnected", "InvalidProduct"}));
        QCOMPARE(int(w.b->device_info.type), 43);
    }

    void two_units_are_never_read() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        fake.set_otp(otp_of(3), serial_B);
        fake.set_units({serial_A, serial_B});
        Workflow w(fake);
        SignalCounter scans(w.a, &SM_A::sig_scanning);
        SignalCounter reads(w.a, &SM_A::sig_readingInfo);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 5, generous_ms);
        QCOMPARE(reads.count(), 0);
        QCOMPARE(runs_with(fake, "-U"), 0);
        QCOMPARE(w.emitted, QStringList{"UpgradeImpossible"});
    }

    void unit_listed_without_serial_is_never_read() {
        FakeDfuUtil fake;
        QString lines;
        for (int alt = 3; alt >= 0; --alt)
            lines += QString("Found DFU: [0483:df11] ver=2200, devnum=5, cfg=1, intf=0, "
                             "path=\"1-1\", alt=%1, name=\"@x\", serial=\"\"\n").arg(alt);
        fake.set_listing(lines);
        fake.set_units({serial_A});
        fake.set_otp(otp_of(3));
        Workflow w(fake);
        SignalCounter cycles(w.a, &SM_A::sig_A4_entered);
        SignalCounter connected(w.a, &SM_A::sig_DevConn);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(cycles.count() >= 5, generous_ms);
        QCOMPARE(connected.count(), 0);
        QCOMPARE(runs_with(fake, "-U"), 0);
    }

    // The guards and B1's exit see the record the signal announced, even when the worker has
    // already read another unit by the time the GUI thread handles the first signal. (The
    // machine listens only to the signals of its active states, so it misses the worker's
    // "unit lost" of that moment; the order it then gives is tagged with the unit it judged
    // and is dropped, because that unit is gone.)
    void each_connection_is_judged_on_its_own_record() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        SM_A a{QString("f.dfu"), QString(), QString()};
        a.no_device_delay_ms = 5;
        a.connected_delay_ms = 5;
        SM_B b(&a, Device::VELK, QStringLiteral("B8"));
        QStringList seen; // product type and revision at each DeviceConnected
        QObject::connect(&b, &SM_B::sig_DeviceConnected, &b, [&] {
            seen << QString("%1/%2").arg(int(b.device_info.type)).arg(b.device_info.FW_revision);
        });
        std::atomic<int> announced{0};
        QObject::connect(&a, &SM_A::sig_DevConn, &a, [&] { ++announced; }, Qt::DirectConnection);
        b.start();
        QCoreApplication::processEvents(); // the machine enters B1
        QVERIFY(b.configuration().contains(b.B1));

        // The GUI thread handles no events while the worker reads A and then B in its place.
        auto wait_for = [&](int n) {
            QElapsedTimer t;
            t.start();
            while (announced < n && t.elapsed() < generous_ms)
                QThread::msleep(5);
            return announced >= n;
        };
        a.start();
        QVERIFY(wait_for(1));
        attach(fake, serial_B, 43, flash_of(43, "B5"));
        QVERIFY(wait_for(2));

        QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty(), generous_ms);
        QCOMPARE(seen.first(), QString("3/B7"));
        QVERIFY(b.configuration().contains(b.B2));
        b.do_download(); // meant for A, which is gone
        SignalCounter scans(&a, &SM_A::sig_scanning);
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 5, generous_ms);
        a.do_stop();
        QVERIFY(a.wait(generous_ms));
        QCOMPARE(runs_with(fake, "-D"), 0);
    }

    // A unit pulled out between the listing and its reads, and another plugged in at its port:
    // the serial announced is the one of the unit whose record was read, never its neighbour's.
    void a_unit_replaced_while_read_is_read_again() {
        FakeDfuUtil fake;
        fake.attach("1-1", serial_A, otp_of(3), flash_of(3, "B7"));
        Workflow w(fake);
        QStringList seen; // serial and revision at each DeviceConnected
        QObject::connect(w.b, &SM_B::sig_DeviceConnected, w.b, [&] {
            seen << w.b->device_info.serial + "/" + w.b->device_info.FW_revision;
        });
        bool replaced = false;
        QObject context; // in this thread: the worker waits until the swap is done
        QObject::connect(w.a, &SM_A::sig_readingInfo, &context, [&] {
            if (!replaced)
                fake.attach("1-1", serial_B, otp_of(3), flash_of(3, "B8"));
            replaced = true;
        }, Qt::BlockingQueuedConnection);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(!seen.isEmpty(), generous_ms);
        QVERIFY(replaced);
        QCOMPARE(seen.first(), serial_B + "/B8");
        QCOMPARE(w.a->situation().kind, Situation::Kind::connected);
    }

    // Units of one family may share a serial: the unit that takes a connected unit's place at
    // its port, between two scans, is read as the new unit it is (it has another address).
    void a_unit_plugged_in_anew_with_the_same_serial_is_read_again() {
        FakeDfuUtil fake;
        fake.attach("1-1", serial_A, otp_of(3), flash_of(3, "B7"));
        Workflow w(fake);
        QStringList seen; // revision at each DeviceConnected
        QObject::connect(w.b, &SM_B::sig_DeviceConnected, w.b,
                         [&] { seen << w.b->device_info.FW_revision; });
        w.start();
        QTRY_COMPARE_WITH_TIMEOUT(seen, QStringList{"B7"}, generous_ms);
        fake.attach("1-1", serial_A, otp_of(3), flash_of(3, "B8"));
        QTRY_COMPARE_WITH_TIMEOUT(seen, (QStringList{"B7", "B8"}), generous_ms);
    }

    // An order given while the unit was being lost is not carried out on the next unit.
    void pending_order_dies_with_its_unit() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        SM_A a(QString("f.dfu"), QString(), QString());
        a.no_device_delay_ms = 5;
        a.connected_delay_ms = 5;
        SignalCounter connected(&a, &SM_A::sig_DevConn);
        SignalCounter scans(&a, &SM_A::sig_scanning);
        a.start();
        QTRY_VERIFY_WITH_TIMEOUT(connected.count() == 1, generous_ms);
        const SM_A::Announcement first = a.take_announcement();
        QCOMPARE(first.device_info.FW_revision, QString("B7"));
        // The worker must have seen the unit go (A0), not only scanned a few times: a scan
        // that began before the unplugging still lists it.
        SignalCounter lost(&a, &SM_A::sig_A0_entered);
        fake.set_units({});
        QTRY_VERIFY_WITH_TIMEOUT(lost.count() >= 1 && a.take_announcement().unit == 0, generous_ms);
        // The user clicked for unit A just as it went away; then B is plugged in.
        a.set_command(SM_A::download_FW, first.unit);
        a.set_command(SM_A::download_FW); // plain order, also given while no unit is there
        attach(fake, serial_B, 3, flash_of(3, "B6"));
        QTRY_VERIFY_WITH_TIMEOUT(connected.count() == 2, generous_ms);
        const int seen = scans.count();
        QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= seen + 5, generous_ms);
        a.do_stop();
        QVERIFY(a.wait(generous_ms));
        QCOMPARE(runs_with(fake, "-D"), 0);
    }

    // The unit is replaced at its port after the last scan and before the click is taken: the
    // order was for the unit before, so nothing is written into the one there now.
    void an_order_for_a_replaced_unit_is_dropped() {
        FakeDfuUtil fake;
        fake.attach("1-1", serial_A, otp_of(3), flash_of(3, "B7"));
        SM_A a(QString("f.dfu"), QString(), QString());
        a.no_device_delay_ms = 5;
        a.connected_delay_ms = 60000; // no scan between the swap and the order
        SignalCounter connected(&a, &SM_A::sig_DevConn);
        a.start();
        QTRY_VERIFY_WITH_TIMEOUT(connected.count() == 1, generous_ms);
        const SM_A::Announcement first = a.take_announcement();
        const QByteArray flash_B = flash_of(3, "B6");
        fake.attach("1-1", serial_B, otp_of(3), flash_B);
        a.set_command(SM_A::download_FW, first.unit);
        QTRY_VERIFY_WITH_TIMEOUT(connected.count() == 2, generous_ms);
        QCOMPARE(a.take_announcement().device_info.serial, serial_B);
        a.do_stop();
        QVERIFY(a.wait(generous_ms));
        QCOMPARE(runs_with(fake, "-D"), 0);
        QVERIFY(fake.flash_at("1-1") == flash_B);
    }

    void first_pass_through_A1_does_not_sleep() {
        FakeDfuUtil fake;
        SM_A a{QString(), QString(), QString()};
        a.no_device_delay_ms = 1500;
        QMutex lock;
        QElapsedTimer clock;
        clock.start();
        QList<qint64> a1, a2; // when A1 and A2 were entered, in the worker thread
        QObject::connect(&a, &SM_A::sig_A1_entered, &a, [&] { QMutexLocker l(&lock); a1 << clock.elapsed(); }, Qt::DirectConnection);
        QObject::connect(&a, &SM_A::sig_A2_entered, &a, [&] { QMutexLocker l(&lock); a2 << clock.elapsed(); }, Qt::DirectConnection);
        a.start();
        QTRY_VERIFY_WITH_TIMEOUT([&] { QMutexLocker l(&lock); return a2.size() >= 2; }(), generous_ms);
        a.do_stop();
        QVERIFY(a.wait(generous_ms));
        QMutexLocker l(&lock);
        QVERIFY2(a2[0] - a1[0] < 1500, "the first pass slept");
        QVERIFY2(a2[1] - a1[1] >= 1490, "a later pass did not sleep");
    }

    void debug_output_shows_the_idle_loop_once() {
        FakeDfuUtil fake;
        MessageLog log;
        {
            Workflow w(fake);
            w.a->enable_debug_output();
            w.b->enable_debug_output();
            SignalCounter scans(w.a, &SM_A::sig_scanning);
            w.start();
            QTRY_VERIFY_WITH_TIMEOUT(scans.count() >= 5, generous_ms);
        }
        QCOMPARE(log.texts(QtDebugMsg).filter("SM_A: /sig_"), QStringList{"\"SM_A: /sig_NoDevConn\""});
        QVERIFY(log.texts(QtDebugMsg).contains("\"SM_B: /sig_UpgradeImpossible\""));
        QVERIFY(log.texts(QtDebugMsg).contains("\"SM_B: entered B1: No (DFU-SE) dev. conn.\""));
    }

    // A stop ends the pause between scans at once instead of after it, so that Escape does
    // not wait on the GUI thread for a sleeping worker.
    void a_stop_wakes_the_pause_between_scans_data() {
        QTest::addColumn<bool>("with_unit");
        QTest::newRow("connected unit: the A4 pause") << true;
        QTest::newRow("no unit: the A1 pause") << false;
    }

    void a_stop_wakes_the_pause_between_scans() {
        QFETCH(bool, with_unit);
        FakeDfuUtil fake;
        if (with_unit)
            attach(fake, serial_A, 3, flash_of(3, "B7"));
        SM_A a{QString(), QString(), QString()};
        a.no_device_delay_ms = 4 * generous_ms; // pauses far longer than the join's bound
        a.connected_delay_ms = 4 * generous_ms;
        SignalCounter pauses(&a, with_unit ? &SM_A::sig_A4_entered : &SM_A::sig_A1_entered);
        a.start();
        // A4 pauses on every entry; A1 from its second entry on.
        QTRY_VERIFY_WITH_TIMEOUT(pauses.count() >= (with_unit ? 1 : 2), generous_ms);
        QVERIFY(a.stop_and_wait(generous_ms));
        QVERIFY(a.isFinished());
    }

    // An order ends the pause in A4 at once: carried out although the pause is far longer
    // than the wait for it.
    void an_order_wakes_the_pause_data() {
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("argument"); // of the run the order starts
        QTest::newRow("download") << int(SM_A::download_FW) << "-D";
        QTest::newRow("read-back") << int(SM_A::upload_and_compare_FW) << read_back_region;
    }
    void an_order_wakes_the_pause() {
        QFETCH(int, order);
        QFETCH(QString, argument);
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        QTemporaryDir dir;
        QFile::copy(":resources/firmware.dfu", dir.filePath("f.dfu"));
        QFile::copy(":resources/firmware.bin", dir.filePath("f.bin"));
        SM_A a(dir.filePath("f.dfu"), dir.filePath("f.bin"), dir.filePath("up.bin"));
        a.connected_delay_ms = 4 * generous_ms;
        SignalCounter pauses(&a, &SM_A::sig_A4_entered);
        a.start();
        QTRY_VERIFY_WITH_TIMEOUT(pauses.count() == 1, generous_ms);
        a.set_command(SM_A::Command(order));
        QTRY_VERIFY_WITH_TIMEOUT(runs_with(fake, argument) == 1, generous_ms);
        QVERIFY(a.stop_and_wait(generous_ms));
    }

    void a_stop_request_lets_a_running_download_finish() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        fake.set_download_seconds(1);
        Workflow w(fake);
        SignalCounter downloaded(w.a, &SM_A::sig_FwDownloaded);
        w.start();
        QTRY_VERIFY_WITH_TIMEOUT(w.in(w.b->B2), generous_ms);
        w.b->do_download();
        QTRY_VERIFY_WITH_TIMEOUT(w.downloads() == 1, generous_ms);
        w.a->do_stop();
        QVERIFY(w.a->wait(generous_ms));
        QCOMPARE(downloaded.count(), 1);
        QVERIFY(fake.flash(serial_A) == FakeDfuUtil::desired_firmware());
    }

    // Shutting down never hangs on a child that does not end: after the bound it is killed.
    void shutting_down_gives_up_on_a_child_that_never_ends() {
        FakeDfuUtil fake;
        attach(fake, serial_A, 3, flash_of(3, "B7"));
        fake.set_download_seconds(100000);
        auto w = std::make_unique<Workflow>(fake);
        w->a->give_up_after_ms = 300;
        SignalCounter downloaded(w->a, &SM_A::sig_FwDownloaded);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(w->in(w->b->B2), generous_ms);
        w->b->do_download();
        QTRY_VERIFY_WITH_TIMEOUT(w->downloads() == 1, generous_ms);
        MessageLog log;
        QElapsedTimer t;
        t.start();
        w.reset();
        QVERIFY(t.elapsed() < generous_ms);
        QCOMPARE(downloaded.count(), 1);
        QCOMPARE(log.count("giving up on it"), 1);
        QCOMPARE(log.count("Giving up on"), 1);
        DFU::runner::reset_give_up();
    }
};

QTEST_GUILESS_MAIN(TestWorkflow)
#include "test_workflow.moc"
