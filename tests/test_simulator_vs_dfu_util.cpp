// The simulator program against the dfu-util 0.9 that the program carries: byte for byte where
// the real tool runs without a unit (banner, empty listing, every failure before a unit is
// needed), and field by field, through the real tool's own format strings, for the listing
// lines and the progress bar, which only a unit makes it print.

#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "dfu/runner.h"
#include "fake_dfu_util.h"
#include "file_contents.h"
#include "program_run.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace Device::memory_map;

namespace {

const QString real_tool = QStringLiteral(ORVANTA_GENERATED_RESOURCES "/dfu_util_linux/dfu-util");
const QString simulator_script =
    QFileInfo(QStringLiteral(ORVANTA_DFU_SIMULATOR)).absolutePath() + "/dfu-util_simulator.sh";

// The formats dfu-util 0.9 prints with, as its source has them (literals, for the compiler's
// format checks of QString::asprintf).
#define LISTING_FORMAT                                                                             \
    "Found %s: [%04x:%04x] ver=%04x, devnum=%u, cfg=%u, intf=%u, path=\"%s\", alt=%u, "            \
    "name=\"%s\", serial=\"%s\"\n"
#define PROGRESS_FORMAT "\r%s\t[%s] %3lld%% %12lld bytes"
#define DONE_FORMAT "\n%s done.\n"

// True when the real tool holds the format as one of its strings.
bool tool_prints_with(const QByteArray& binary, const char* text) {
    return binary.contains(QByteArray(1, '\0') + text + '\0');
}

// The fields of a listing line, and of a progress update without its carriage return.
const QRegularExpression listing_fields(QStringLiteral(
    "^Found (\\w+): \\[([0-9a-f]{4}):([0-9a-f]{4})\\] ver=([0-9a-f]{4}), devnum=(\\d+), "
    "cfg=(\\d+), "
    "intf=(\\d+), path=\"([^\"]*)\", alt=(\\d+), name=\"([^\"]*)\", serial=\"([^\"]*)\"$"));
const QRegularExpression
    progress_fields(QStringLiteral("^(\\w+)\\t\\[(=*) *\\] *(\\d+)% *(\\d+) bytes$"));

} // namespace

class TestSimulatorVsDfuUtil : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QByteArray binary_;

    QString path(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() {
        const QString version =
            QFileInfo(QStringLiteral(ORVANTA_DFU_SUFFIX)).absolutePath() + "/VERSION";
        if (read_all(version).trimmed() != "0.9")
            QSKIP("the build carries another dfu-util than 0.9");
        binary_ = read_all(real_tool);
        QVERIFY(!binary_.isEmpty());
        if (run_program(real_tool, {"-d", "0483", "-l"})
                .out.contains("Found"))
            QSKIP("a DFU unit of vendor 0483 is attached");
        QVERIFY(dir_.isValid());
        QVERIFY(QFile::copy(":resources/firmware.dfu", path("firmware.dfu")));
        QVERIFY(QFile::copy(":resources/firmware.bin", path("firmware.bin")));
        QByteArray broken = read_all(path("firmware.dfu"));
        broken[1000] = static_cast<char>(broken[1000] ^ 1);
        QVERIFY(write_all(path("broken_crc.dfu"), broken));
        QVERIFY(write_all(path("short.dfu"), "DfuSe"));

        qputenv("ORVANTA_SIMULATOR_STATE_DIR", QFile::encodeName(path("state")));
        QCOMPARE(run_program(simulator_script, {"--dfu-util-command", "setup_prepared_config", "no_unit"})
                     .exit_code,
                 0);
    }

    void without_a_unit_both_print_the_same_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("version") << QStringList{"-V"};
        QTest::newRow("listing") << QStringList{"-d", "0483", "-l"};
        QTest::newRow("OTP upload") << QStringList{
            "-d", "0483", "-a", "2", "-s", region_text(otp_address, otp_length), "-U", "new.bin"};
        QTest::newRow("DfuSe download")
            << QStringList{"-d", "0483", "-a", "0", "-D", "firmware.dfu"};
        QTest::newRow("raw image, no suffix")
            << QStringList{"-d", "0483", "-a", "0", "-D", "firmware.bin"};
        QTest::newRow("suffix CRC does not match")
            << QStringList{"-d", "0483", "-a", "0", "-D", "broken_crc.dfu"};
        QTest::newRow("too short for a suffix")
            << QStringList{"-d", "0483", "-a", "0", "-D", "short.dfu"};
        QTest::newRow("missing file") << QStringList{"-d", "0483", "-a", "0", "-D", "missing.dfu"};
        QTest::newRow("listing at a port") << QStringList{"-d", "0483", "-p", "1-1.3", "-l"};
        QTest::newRow("download at a port")
            << QStringList{"-d", "0483", "-p", "1-1.3", "-a", "0", "-D", "firmware.dfu"};
    }

    // The simulator with no unit attached and the fake with none: exit code, standard output and
    // standard error as the real tool's, and no file left behind.
    void without_a_unit_both_print_the_same() {
        QFETCH(QStringList, args);
        for (QString& arg : args)
            if (arg.contains('.'))
                arg = path(arg);
        const ProgramRun real = run_program(real_tool, args);
        const ProgramRun simulated =
            run_program(simulator_script, QStringList{"--dfu-util-command", "list"} + args);
        FakeDfuUtil fake;
        const ProgramRun faked = run_program(FakeDfuUtil::script_path(), args);
        for (const ProgramRun& r : {simulated, faked}) {
            QCOMPARE(r.exit_code, real.exit_code);
            QCOMPARE(r.out, real.out);
            QCOMPARE(r.err, real.err);
        }
        QVERIFY(!QFile::exists(path("new.bin")));
    }

    // An option without its value: a usage error, before the banner. The simulator says so in
    // its own words (standard error differs: the real tool prints its whole usage).
    void a_missing_value_is_a_usage_error() {
        const QStringList args = {"-d", "0483", "-l", "-p"};
        const ProgramRun real = run_program(real_tool, args);
        const ProgramRun simulated =
            run_program(simulator_script, QStringList{"--dfu-util-command", "list"} + args);
        FakeDfuUtil fake;
        const ProgramRun faked = run_program(FakeDfuUtil::script_path(), args);
        QCOMPARE(real.exit_code, 64);
        for (const ProgramRun& r : {simulated, faked}) {
            QCOMPARE(r.exit_code, real.exit_code);
            QCOMPARE(r.out, real.out);
            QVERIFY(r.err.contains("-p"));
        }
    }

    // Every listing line, taken apart and printed again with dfu-util's own format, is itself:
    // those of units named by serial and of a unit on a hub's port.
    void listing_lines_have_the_tools_format() {
        QVERIFY(tool_prints_with(binary_, LISTING_FORMAT));
        FakeDfuUtil fake;
        fake.set_units({"3776367B3036", "206A35744E4B"});
        fake.attach("1-1.3", "3776367B4103", {}, {});
        const QString output = DFU::run_command(DFU::CmdID::list, {}).output;
        QVERIFY(output.startsWith(DFU::dfu_util::expected_output_of_execution_test));
        const QStringList lines =
            output.mid(DFU::dfu_util::expected_output_of_execution_test.size())
                .split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 12);
        QVERIFY(lines.last().contains("path=\"1-1.3\""));
        for (const QString& line : lines) {
            const QRegularExpressionMatch m = listing_fields.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const auto text = [&m](int i) { return m.captured(i).toUtf8(); };
            const auto number = [&m](int i, int base) {
                return m.captured(i).toUInt(nullptr, base);
            };
            QCOMPARE(QString::asprintf(LISTING_FORMAT, text(1).constData(), number(2, 16),
                                       number(3, 16), number(4, 16), number(5, 10), number(6, 10),
                                       number(7, 10), text(8).constData(), number(9, 10),
                                       text(10).constData(), text(11).constData()),
                     line + '\n');
        }
    }

    void progress_has_the_tools_format_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("label");
        QTest::newRow("read-back upload") << static_cast<int>(DFU::CmdID::upload_FW) << "Upload";
        QTest::newRow("download") << static_cast<int>(DFU::CmdID::download_FW) << "Download";
    }

    // Each update printed again with dfu-util's format is itself; the bar grows by one or more
    // marks each time (or is drawn again when the clock's second changes), its marks and percent
    // agree with the bytes, and it ends full and "done".
    void progress_has_the_tools_format() {
        QFETCH(int, id);
        QFETCH(QString, label);
        QVERIFY(tool_prints_with(binary_, PROGRESS_FORMAT));
        QVERIFY(tool_prints_with(binary_, DONE_FORMAT));
        FakeDfuUtil fake;
        fake.set_units({"3776367B3036"});
        fake.set_flash(FakeDfuUtil::desired_firmware());
        const QStringList args =
            static_cast<DFU::CmdID>(id) == DFU::CmdID::upload_FW
                ? QStringList{"-s", region_text(flash_base, 400308), "-U", path("read_back.bin")}
                : QStringList{path("firmware.dfu")};
        QFile::remove(path("read_back.bin"));
        const DFU::CmdResult r = DFU::run_command(static_cast<DFU::CmdID>(id), args);
        QCOMPARE(r.exit_code, 0);

        const QByteArray out = r.output.toUtf8();
        const QByteArray done = QString::asprintf(DONE_FORMAT, qPrintable(label)).toUtf8();
        const int end = out.indexOf(done);
        QVERIFY(end > 0);
        const QList<QByteArray> updates =
            out.mid(out.indexOf('\r') + 1, end - out.indexOf('\r') - 1).split('\r');
        const qint64 total = 400308;
        int marks_before = -1;
        for (const QByteArray& update : updates) {
            const QRegularExpressionMatch m = progress_fields.match(QString::fromUtf8(update));
            QVERIFY2(m.hasMatch(), update.constData());
            const int marks = m.captured(2).size();
            const qint64 bytes = m.captured(4).toLongLong();
            QCOMPARE(m.captured(1), label);
            QCOMPARE(marks, static_cast<int>(25 * bytes / total));
            QCOMPARE(m.captured(3).toLongLong(), 100 * bytes / total);
            QVERIFY(marks >= marks_before);
            marks_before = marks;
            const QByteArray bar = QByteArray(marks, '=') + QByteArray(25 - marks, ' ');
            QCOMPARE(QString::asprintf(PROGRESS_FORMAT, qPrintable(label), bar.constData(),
                                       m.captured(3).toLongLong(), bytes),
                     '\r' + QString::fromUtf8(update));
        }
        QCOMPARE(marks_before, 25);
        QVERIFY(updates.size() >= 20); // about one update per 4 %
    }
};

QTEST_GUILESS_MAIN(TestSimulatorVsDfuUtil)
#include "test_simulator_vs_dfu_util.moc"
