// orvanta-upgrade as built, in real mode: its embedded dfu-util 0.9 and libusb against virtual
// units, as a station runs it. Each bench's unit, memories and fault give one exit status and
// one outcome; what the unit was asked to do (erases, written blocks, polls) and what its flash
// holds afterwards prove the outcome: nothing is written to a refused unit, and no failure is
// ever told as "upgraded".

#include "fake_dfu_util.h"
#include "testbed.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Device::memory_map;

namespace {

const QString program = QStringLiteral(ORVANTA_UPGRADE_EXECUTABLE);
constexpr int generous_ms = 120000; // bounds waits; nothing here measures speed

// What is on the bench when the station starts.
enum class Bench {
    older_revision,
    carried_revision,
    carried_revision_differs, // its image differs from the carried one in a byte
    other_product,
    blank_otp,
    two_units,
    two_units_one_serial, // as ST's bootloaders may report
    pulled_out_in_download,
    pulled_out_while_busy,
    read_back_fails,
    byte_reads_back_wrong,
    download_stalls,
    no_usb_rule,
};

// What the unit's flash holds afterwards.
enum class Flash { as_before, carried, part_written };

QByteArray erased_flash_from(const QByteArray& image) {
    return image + QByteArray(static_cast<int>(flash_size) - image.size(), '\xFF');
}

QByteArray lumo7_b7() {
    return FakeDfuUtil::flash_image({Device::VELK}, "B7", 32768);
}

// The unit's flash when it is plugged in.
QByteArray flash_of(Bench bench) {
    QByteArray carried = FakeDfuUtil::desired_firmware();
    switch (bench) {
    case Bench::carried_revision:
        return carried;
    case Bench::carried_revision_differs: // a byte after the information block
        carried[131072] = static_cast<char>(carried[131072] ^ 0xA5);
        return carried;
    case Bench::other_product:
        return FakeDfuUtil::flash_image({Device::RAMO}, "C3", 32768);
    default:
        return lumo7_b7();
    }
}

virtual_unit::Faults faults_of(Bench bench) {
    virtual_unit::Faults faults;
    if (bench == Bench::pulled_out_in_download || bench == Bench::pulled_out_while_busy)
        faults.unplug_after_download_bytes = 100000;
    faults.unplug_while_busy = bench == Bench::pulled_out_while_busy;
    faults.upload_fails_after_bytes = bench == Bench::read_back_fails ? 4096 : -1;
    faults.wrong_byte_at = bench == Bench::byte_reads_back_wrong ? flash_base + 200000 : -1;
    faults.hang_after_download_bytes = bench == Bench::download_stalls ? 50000 : -1;
    return faults;
}

void plug(virtual_unit::Testbed& bed, Bench bench) {
    virtual_unit::Unit& unit = bed.plug(QStringLiteral("1-1"), QStringLiteral("3776367B3036"));
    const Device::ProductInfoRaw product{
        static_cast<quint8>(bench == Bench::other_product ? Device::RAMO : Device::VELK)};
    unit.set_memory(otp_alt, bench == Bench::blank_otp ? QByteArray(otp_length, '\xFF')
                                                       : FakeDfuUtil::otp_image(product));
    unit.set_memory(flash_alt, flash_of(bench));
    unit.set_faults(faults_of(bench));
    if (bench == Bench::no_usb_rule)
        bed.deny_access(unit.port());
    if (bench == Bench::two_units || bench == Bench::two_units_one_serial) {
        const QString serial =
            bench == Bench::two_units ? QStringLiteral("206A35744E4B") : unit.serial();
        virtual_unit::Unit& other = bed.plug(QStringLiteral("1-2"), serial);
        other.set_memory(otp_alt, FakeDfuUtil::otp_image({Device::VELK}));
        other.set_memory(flash_alt, lumo7_b7());
    }
}

struct Run {
    int status = -1;
    QJsonObject outcome;
    QMap<QString, QString> outcome_at; // by port, with several units
    QMap<QString, int> progress; // the last percent of each phase ("download", "read_back")
    QByteArray log;              // standard error
};

// The station's run to its end, in a private runtime and data directory.
Run run_station(const virtual_unit::Testbed& bed, const QStringList& arguments) {
    QTemporaryDir home;
    QDir().mkpath(home.filePath("runtime"));
    QFile::setPermissions(home.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = bed.program_environment();
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    QProcess station;
    station.setProcessEnvironment(environment);
    station.start(program, arguments);
    Run run;
    if (!station.waitForFinished(generous_ms) || station.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = station.exitCode();
    for (const QByteArray& line : station.readAllStandardOutput().split('\n')) {
        const QJsonObject event = QJsonDocument::fromJson(line).object();
        if (event.value("event") == "outcome") {
            run.outcome = event;
            run.outcome_at[event.value("port").toString()] = event.value("outcome").toString();
        }
        if (event.value("event") == "progress")
            run.progress[event.value("phase").toString()] = event.value("percent").toInt();
    }
    run.log = station.readAllStandardError();
    return run;
}

} // namespace

Q_DECLARE_METATYPE(Bench)
Q_DECLARE_METATYPE(Flash)

class RealModeStation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!virtual_unit::Testbed::unavailable().isEmpty())
            QSKIP(qPrintable("real mode cannot run here: " + virtual_unit::Testbed::unavailable()));
    }

    void install_data() {
        QTest::addColumn<Bench>("bench");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<Flash>("flash");
        QTest::addColumn<QString>("cause"); // dfu-util's words in the outcome; empty: none
        QTest::newRow("a B7 unit is upgraded and verified")
            << Bench::older_revision << 0 << "upgraded" << Flash::carried << "";
        QTest::newRow("the carried revision is verified, nothing written")
            << Bench::carried_revision << 0 << "already_current" << Flash::as_before << "";
        QTest::newRow("the carried revision with an image that differs is written again")
            << Bench::carried_revision_differs << 0 << "upgraded" << Flash::carried << "";
        QTest::newRow("another product is refused, nothing written")
            << Bench::other_product << 4 << "refused" << Flash::as_before << "";
        QTest::newRow("a blank OTP is refused, nothing written")
            << Bench::blank_otp << 4 << "no_record" << Flash::as_before << "";
        QTest::newRow("two units: neither is used")
            << Bench::two_units << 5 << "several_units" << Flash::as_before << "";
        QTest::newRow("two units with one serial: neither is used")
            << Bench::two_units_one_serial << 5 << "several_units" << Flash::as_before << "";
        QTest::newRow("pulled out in the download")
            << Bench::pulled_out_in_download << 1 << "unit_lost" << Flash::part_written
            << "dfu-util: dfuse_download: libusb_control_transfer returned -4";
        // dfu-util's words name no lost unit when the unit goes during its busy time.
        QTest::newRow("pulled out while busy")
            << Bench::pulled_out_while_busy << 1 << "download_failed" << Flash::part_written
            << "dfu-util: Error during download get_status";
        QTest::newRow("the read-back fails")
            << Bench::read_back_fails << 1 << "readback_failed" << Flash::carried
            << "dfu-util: dfuse_upload: libusb_control_msg returned -9";
        QTest::newRow("a byte reads back wrong")
            << Bench::byte_reads_back_wrong << 1 << "differs" << Flash::carried << "";
        QTest::newRow("the download stalls until libusb gives up")
            << Bench::download_stalls << 1 << "download_failed" << Flash::part_written
            << "dfu-util: dfuse_download: libusb_control_transfer returned -7";
        QTest::newRow("no USB rule")
            << Bench::no_usb_rule << 6 << "no_access" << Flash::as_before << "";
    }

    void install() {
        QFETCH(Bench, bench);
        QFETCH(Flash, flash);
        virtual_unit::Testbed bed;
        plug(bed, bench);
        const QByteArray before = bed.unit("1-1")->memory(flash_alt);

        const Run run = run_station(bed, {"install", "--json", "--wait", "10"});
        qInfo().noquote() << "outcome" << run.outcome.value("outcome").toString() << "cause"
                          << run.outcome.value("cause").toString();
        QVERIFY2(run.status >= 0, run.log.right(3000).constData());
        if (qEnvironmentVariableIsSet("SHOWLOG"))
            qInfo().noquote() << run.log;
        QTEST(run.status, "status");
        QTEST(run.outcome.value("outcome").toString(), "outcome");
        QTEST(run.outcome.value("cause").toString(), "cause");

        const virtual_unit::Tally tally = bed.unit("1-1")->tally();
        const QByteArray after = bed.unit("1-1")->memory(flash_alt);
        if (flash == Flash::as_before) {
            QCOMPARE(tally.page_erases + tally.mass_erases + tally.data_blocks, 0);
            QVERIFY(after == before);
        } else if (flash == Flash::carried) {
            QVERIFY(after == erased_flash_from(FakeDfuUtil::desired_firmware()));
        } else {
            QVERIFY(after != before && after != erased_flash_from(FakeDfuUtil::desired_firmware()));
        }
        // dfu-util's bar, as the station read it from the real tool's output.
        if (bench == Bench::older_revision) {
            QCOMPARE(run.progress.value("download", -1), 100);
            QCOMPARE(run.progress.value("read_back", -1), 100);
        }
        // dfu-util waited the poll timeouts the unit announced and erased before it wrote.
        QCOMPARE(tally.early_polls, 0);
        QCOMPARE(tally.bytes_over_unerased, 0);
        if (bench == Bench::two_units || bench == Bench::two_units_one_serial)
            QCOMPARE(bed.unit("1-2")->tally().data_blocks, 0);
    }

    // --all: four units behind a hub, two of them reporting one serial and one pulled out in
    // its download, each selected by dfu-util's own -p: each ends on its own port, and each
    // unit was written only by its own runs.
    void several_units_each_by_its_port() {
        virtual_unit::Testbed bed;
        const QStringList ports = {"1-1.1", "1-1.2", "1-1.3", "1-1.4"};
        const QStringList serials = {"3776367B6101", "3776367B6101", "3776367B6103", "3776367B6104"};
        for (int i = 0; i < ports.size(); ++i) {
            virtual_unit::Unit& unit = bed.plug(ports[i], serials[i]);
            unit.set_memory(otp_alt, FakeDfuUtil::otp_image({Device::VELK}));
            unit.set_memory(flash_alt, lumo7_b7());
        }
        virtual_unit::Faults lost;
        lost.unplug_after_download_bytes = 100000;
        bed.unit("1-1.3")->set_faults(lost);

        const Run run = run_station(bed, {"install", "--all", "--json", "--wait", "10"});
        QVERIFY2(run.status >= 0, run.log.right(3000).constData());
        QCOMPARE(run.status, 1); // the first port that did not end well: 1-1.3
        const QMap<QString, QString> expected{{"1-1.1", "upgraded"}, {"1-1.2", "upgraded"},
                                              {"1-1.3", "unit_lost"}, {"1-1.4", "upgraded"}};
        QStringList told;
        for (auto it = run.outcome_at.cbegin(); it != run.outcome_at.cend(); ++it)
            told << it.key() + ' ' + it.value();
        QVERIFY2(run.outcome_at == expected,
                 qPrintable(told.join(", ") + '\n' + QString::fromUtf8(run.log.right(6000))));
        const QByteArray carried = erased_flash_from(FakeDfuUtil::desired_firmware());
        for (const QString& port : ports) {
            const virtual_unit::Tally tally = bed.unit(port)->tally();
            QCOMPARE(tally.early_polls, 0);
            QCOMPARE(tally.bytes_over_unerased, 0);
            QCOMPARE(bed.unit(port)->memory(flash_alt) == carried, port != "1-1.3");
        }
        QVERIFY(run.log.contains("-p\", \"1-1.2\""));
    }
};

QTEST_GUILESS_MAIN(RealModeStation)
#include "real_mode_station.moc"
