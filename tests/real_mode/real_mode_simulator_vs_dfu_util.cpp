// What the tests' fake dfu-util and the simulator print, against what the real dfu-util 0.9 prints
// with a unit attached: the same units (serials, addresses, ports, memories) and the same fault on
// each side, then banner, listing lines, progress lines, error lines, exit code and the files
// written must be the same bytes. The one allowance: dfu-util redraws its bar also when the clock's
// second changes, which no two runs do alike; those redraws (the marks unchanged) are left out on
// both sides.

#include "fake_dfu_util.h"
#include "file_contents.h"
#include "program_run.h"
#include "testbed.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace Device::memory_map;

namespace {

const QString real_tool = QStringLiteral(ORVANTA_GENERATED_RESOURCES "/dfu_util_linux/dfu-util");
const QString simulator_script =
    QFileInfo(QStringLiteral(ORVANTA_DFU_SIMULATOR)).absolutePath() + "/dfu-util_simulator.sh";
const QString otp_region = region_text(otp_address, otp_length);
constexpr int image_size = 400308; // the carried firmware's

// One fault as each side plays it.
enum class Fault {
    none,
    no_access,
    claimed,
    lost_at_40_percent,
    read_back_fails,
    erase_fails,          // told after the erase's busy time
    erase_refused_at_once // told at the first GETSTATUS
};

// The bar's updates whose marks did not change: redraws of the clock's second.
QByteArray without_clock_redraws(const QByteArray& out) {
    static const QRegularExpression update(QStringLiteral("^\\w+\\t\\[(=*) *\\]"));
    QList<QByteArray> pieces = out.split('\r');
    QByteArray kept = pieces.takeFirst();
    int marks = -1;
    for (const QByteArray& piece : pieces) {
        const QRegularExpressionMatch m = update.match(QString::fromLatin1(piece));
        const int now = m.hasMatch() ? m.captured(1).size() : -1;
        if (now >= 0 && now == marks && !piece.contains('\n'))
            continue;
        marks = now;
        kept += '\r' + piece;
    }
    return kept;
}

// dfu-util's last word: of standard error, or else of standard output.
QByteArray last_word(const ProgramRun& run) {
    const QByteArray text = (run.err.trimmed().isEmpty() ? run.out : run.err).trimmed();
    return text.mid(qMax(text.lastIndexOf('\n'), text.lastIndexOf('\r')) + 1);
}

struct Side {
    ProgramRun run;
    bool file_made = false;
    QByteArray written; // the file the run wrote, or the first unit's flash after it
};

} // namespace

Q_DECLARE_METATYPE(Fault)

class RealModeSimulatorVsDfuUtil : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const QString& name) const { return dir_.filePath(name); }
    QStringList in_dir(QStringList args) const {
        for (QString& arg : args)
            if (arg.endsWith(".bin") || arg.endsWith(".dfu"))
                arg = path(arg);
        return args;
    }

    // The real dfu-util against virtual units on 1-1, 1-2, ...
    Side real(const QStringList& serials, Fault fault, const QStringList& args) {
        virtual_unit::Testbed bed;
        for (int i = 0; i < serials.size(); ++i) {
            virtual_unit::Unit& unit = bed.plug(QStringLiteral("1-%1").arg(i + 1), serials[i]);
            unit.set_memory(otp_alt, FakeDfuUtil::otp_image({Device::VELK}));
            unit.set_memory(flash_alt, FakeDfuUtil::desired_firmware());
        }
        virtual_unit::Faults faults;
        faults.claimed_elsewhere = fault == Fault::claimed;
        faults.unplug_after_download_bytes =
            fault == Fault::lost_at_40_percent ? image_size * 2 / 5 / 2048 * 2048 : -1;
        faults.upload_fails_after_bytes = fault == Fault::read_back_fails ? 0 : -1;
        faults.erase_fails = fault == Fault::erase_fails || fault == Fault::erase_refused_at_once;
        faults.errors_at_once = fault == Fault::erase_refused_at_once;
        bed.unit("1-1")->set_faults(faults);
        if (fault == Fault::no_access)
            bed.deny_access("1-1");
        Side side{run_program(real_tool, in_dir(args), bed.dfu_util_environment()), false, {}};
        side.file_made = QFile::exists(path("out.bin"));
        side.written = read_all(path("out.bin"));
        if (side.written.isEmpty() && args.contains("-D"))
            side.written = bed.unit("1-1")->memory(flash_alt);
        return side;
    }

    // The fake with the same units, images and fault.
    Side faked(const QStringList& serials, Fault fault, const QStringList& args) {
        using S = FakeDfuUtil::Switch;
        FakeDfuUtil fake;
        fake.set_units(serials);
        fake.set_otp(FakeDfuUtil::otp_image({Device::VELK}));
        fake.set_flash(FakeDfuUtil::desired_firmware());
        const std::map<Fault, S> switches = {{Fault::no_access, S::deny_access},
                                             {Fault::claimed, S::busy},
                                             {Fault::lost_at_40_percent, S::lose_unit_on_download},
                                             {Fault::read_back_fails, S::fail_upload_FW},
                                             {Fault::erase_fails, S::fail_download}};
        if (switches.count(fault) != 0)
            fake.fail(switches.at(fault));
        Side side{run_program(FakeDfuUtil::script_path(), in_dir(args)), false, {}};
        side.file_made = QFile::exists(path("out.bin"));
        side.written = read_all(path("out.bin"));
        if (side.written.isEmpty() && args.contains("-D"))
            side.written = fake.flash();
        return side;
    }

private slots:
    void initTestCase() {
        if (!virtual_unit::Testbed::unavailable().isEmpty())
            QSKIP(qPrintable("real mode cannot run here: " + virtual_unit::Testbed::unavailable()));
        QVERIFY(dir_.isValid());
        QVERIFY(QFile::copy(":resources/firmware.dfu", path("firmware.dfu")));
    }
    void cleanup() { QFile::remove(path("out.bin")); }

    void fake_prints_what_dfu_util_prints_data() {
        QTest::addColumn<QStringList>("serials");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("args");
        const QStringList one{"3776367B3036"};
        const QStringList two{"206A35744E4B", "3776367B3036"};
        const QStringList list{"-d", "0483", "-l"};
        const QStringList otp{"-d", "0483", "-a", "2", "-s", otp_region, "-U", "out.bin"};
        const QStringList info{"-d", "0483",   "-a",
                               "0",  "-s",     region_text(fw_info_address, fw_info_length),
                               "-U", "out.bin"};
        const QStringList read_back{
            "-d", "0483", "-a", "0", "-s", region_text(flash_base, image_size), "-U", "out.bin"};
        const QStringList download{"-d", "0483", "-a", "0", "-D", "firmware.dfu"};
        QTest::newRow("listing, one unit") << one << Fault::none << list;
        QTest::newRow("listing, two units") << two << Fault::none << list;
        QTest::newRow("OTP area") << one << Fault::none << otp;
        QTest::newRow("information block") << one << Fault::none << info;
        QTest::newRow("read-back") << one << Fault::none << read_back;
        QTest::newRow("download") << one << Fault::none << download;
        QTest::newRow("two units: no upload") << two << Fault::none << otp;
        QTest::newRow("no access: listing") << one << Fault::no_access << list;
        QTest::newRow("no access: upload") << one << Fault::no_access << otp;
        QTest::newRow("claimed by another program") << one << Fault::claimed << otp;
        QTest::newRow("unit lost at 40 %") << one << Fault::lost_at_40_percent << download;
        QTest::newRow("read-back fails") << one << Fault::read_back_fails << read_back;
        QTest::newRow("erase fails") << one << Fault::erase_fails << download;
    }

    void fake_prints_what_dfu_util_prints() {
        QFETCH(QStringList, serials);
        QFETCH(Fault, fault);
        QFETCH(QStringList, args);
        const Side truth = real(serials, fault, args);
        QFile::remove(path("out.bin"));
        const Side fake = faked(serials, fault, args);
        qInfo().noquote() << "dfu-util said:" << last_word(truth.run);
        QCOMPARE(fake.run.err, truth.run.err);
        QCOMPARE(without_clock_redraws(fake.run.out), without_clock_redraws(truth.run.out));
        QCOMPARE(fake.run.exit_code, truth.run.exit_code);
        QCOMPARE(fake.file_made, truth.file_made);
        // The unit's memory runs on past what the fake keeps: erased.
        QCOMPARE(truth.written.left(fake.written.size()), fake.written);
        QCOMPARE(truth.written.mid(fake.written.size()),
                 QByteArray(truth.written.size() - fake.written.size(), '\xFF'));
    }

    void simulator_prints_what_dfu_util_prints_data() {
        QTest::addColumn<QString>("configuration");
        QTest::addColumn<QStringList>("serials"); // on 1-1, 1-2, ...
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("args");
        const QStringList one{"3776367B3036"};
        const QStringList list{"-d", "0483", "-l"};
        const QStringList otp{"-d", "0483", "-a", "2", "-s", otp_region, "-U", "out.bin"};
        const QStringList download{"-d", "0483", "-a", "0", "-D", "firmware.dfu"};
        QTest::newRow("older_revision: listing") << "older_revision" << one << Fault::none << list;
        QTest::newRow("two_units: listing")
            << "two_units" << QStringList{"206A35744E4B", "3776367B3036"} << Fault::none << list;
        QTest::newRow("two_units: upload")
            << "two_units" << QStringList{"206A35744E4B", "3776367B3036"} << Fault::none << otp;
        QTest::newRow("no_access: listing")
            << "no_access" << QStringList{"3776367B3843"} << Fault::no_access << list;
        QTest::newRow("unit_busy: upload")
            << "unit_busy" << QStringList{"3776367B3944"} << Fault::claimed << otp;
        QTest::newRow("download_fails: download") << "download_fails" << QStringList{"3776367B3641"}
                                                  << Fault::erase_refused_at_once << download;
        QTest::newRow("lost_during_download: download")
            << "lost_during_download" << QStringList{"3776367B3742"} << Fault::lost_at_40_percent
            << download;
    }

    // A prepared configuration's units against the same units on those ports.
    void simulator_prints_what_dfu_util_prints() {
        QFETCH(QString, configuration);
        QFETCH(QStringList, serials);
        QFETCH(Fault, fault);
        QFETCH(QStringList, args);
        QTemporaryDir state;
        qputenv("ORVANTA_SIMULATOR_STATE_DIR", QFile::encodeName(state.path()));
        QCOMPARE(run_program(simulator_script,
                             {"--dfu-util-command", "setup_prepared_config", configuration})
                     .exit_code,
                 0);
        const ProgramRun simulated = run_program(
            simulator_script,
            QStringList{"--dfu-util-command", "list", "--fast-progress"} + in_dir(args));
        QFile::remove(path("out.bin"));
        const Side truth = real(serials, fault, args);
        qInfo().noquote() << "dfu-util said:" << last_word(truth.run);
        QCOMPARE(simulated.err, truth.run.err);
        QCOMPARE(without_clock_redraws(simulated.out), without_clock_redraws(truth.run.out));
        QCOMPARE(simulated.exit_code, truth.run.exit_code);
    }
};

QTEST_GUILESS_MAIN(RealModeSimulatorVsDfuUtil)
#include "real_mode_simulator_vs_dfu_util.moc"
