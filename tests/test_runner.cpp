// The dfu-util runner: exact argument vectors, logging, exit codes, output handling, waits.

#include "dfu/command.h"
#include "dfu/run_watch.h"
#include "dfu/runner.h"
#include "file_contents.h"
#include "message_log.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Device::memory_map;

namespace {

const QString fake = QStringLiteral(ORVANTA_TEST_FAKES_DIR "/fake_tool.sh");

// Points the table at the fake tool for one test and puts everything back afterwards.
class FakeTable {
public:
    FakeTable() : saved_(DFU::commands), saved_path_(DFU::Command::path) {
        DFU::Command::path = QFileInfo(fake).absolutePath();
        for (auto& entry : DFU::commands)
            entry.second.program = QFileInfo(fake).fileName();
        qputenv("FAKE_TOOL_RECORD", record_path().toLocal8Bit());
        qputenv("FAKE_TOOL_MODE", "ok");
    }
    ~FakeTable() {
        DFU::commands = saved_;
        DFU::Command::path = saved_path_;
        qunsetenv("FAKE_TOOL_RECORD");
        qunsetenv("FAKE_TOOL_MODE");
        DFU::runner::set_first_wait_ms(30000);
        DFU::runner::reset_give_up();
    }
    QString record_path() const { return dir_.filePath("record.txt"); }
    // The argument vectors of all runs so far.
    QList<QStringList> runs() const {
        QList<QStringList> out;
        QStringList current;
        for (const QByteArray& line : read_all(record_path()).split('\n')) {
            if (line == "--end--") {
                out << current;
                current.clear();
            } else if (!line.isEmpty()) {
                current << QString::fromUtf8(line);
            }
        }
        return out;
    }

private:
    QTemporaryDir dir_;
    std::map<DFU::CmdID, DFU::Command> saved_;
    QString saved_path_;
};

} // namespace

class TestRunner : public QObject {
    Q_OBJECT
private slots:
    void text_form_names_the_program_and_its_arguments() {
        QCOMPARE(QString(DFU::commands.at(DFU::CmdID::list)), QString("dfu-util(-d,0483,-l)"));
    }

    // Eight upper-case hex digits, as the bootloader names its memories; the length in decimal.
    void regions_are_written_as_dfu_util_takes_them() {
        QCOMPARE(region_text(0xABC, 2048), QString("0x00000ABC:2048"));
    }

    void runs_exact_argument_vectors_and_announces_all_but_list_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("announced");
        const QString otp = region_text(otp_address, otp_length);
        const QString info = region_text(fw_info_address, fw_info_length);
        const QString read_back = region_text(flash_base, 400308);
        QTest::newRow("version") << int(DFU::CmdID::version) << QStringList() << QStringList{"-V"}
                                 << true;
        QTest::newRow("list") << int(DFU::CmdID::list) << QStringList()
                              << QStringList{"-d", "0483", "-l"} << false;
        QTest::newRow("upload_OTP")
            << int(DFU::CmdID::upload_OTP) << QStringList{"o"}
            << QStringList{"-d", "0483", "-a", "2", "-s", otp, "-U", "o"} << true;
        QTest::newRow("upload_FW_info")
            << int(DFU::CmdID::upload_FW_info) << QStringList{"/tmp/a b.bin"}
            << QStringList{"-d", "0483", "-a", "0", "-s", info, "-U", "/tmp/a b.bin"} << true;
        QTest::newRow("upload_FW")
            << int(DFU::CmdID::upload_FW) << QStringList{"-s", read_back, "-U", "p"}
            << QStringList{"-d", "0483", "-a", "0", "-s", read_back, "-U", "p"} << true;
        QTest::newRow("download_FW") << int(DFU::CmdID::download_FW) << QStringList{"f;rm -rf x"}
                                     << QStringList{"-d", "0483", "-a", "0", "-D", "f;rm -rf x"}
                                     << true;
        QTest::newRow("id outside the table runs only the extra arguments")
            << 42 << QStringList{"x"} << QStringList{"x"} << true;
    }
    void runs_exact_argument_vectors_and_announces_all_but_list() {
        QFETCH(int, id);
        QFETCH(QStringList, extra);
        QFETCH(QStringList, expected);
        QFETCH(bool, announced);
        FakeTable table;
        if (id == 42) // an entry the subscript inserts: point the default program at the fake too
            DFU::commands[DFU::CmdID(42)].program = QFileInfo(fake).fileName();
        MessageLog log;
        const DFU::CmdResult r = DFU::run_command(DFU::CmdID(id), extra);
        QCOMPARE(r.exit_code, 0);
        QCOMPARE(table.runs(), QList<QStringList>{expected});
        QCOMPARE(log.count("Start "), announced ? 1 : 0);
        QCOMPARE(log.count("Exit with"), 0);
        if (announced) {
            const QString start = log.texts(QtInfoMsg).first();
            QVERIFY2(start.startsWith("Start  \"" + fake + "\" ("), qPrintable(start));
        }
    }

    void exit_codes_and_output_data() {
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error_output");
        QTest::newRow("success") << QByteArray("ok") << 0 << "out:-V\n" << "";
        QTest::newRow("I/O failure") << QByteArray("exit:74") << 74 << "out:-V\n" << "";
        QTest::newRow("killed by a signal") << QByteArray("crash") << -1 << "out:-V\n" << "";
        QTest::newRow("output cut at a NUL byte") << QByteArray("nul") << 0 << "out:-V\nbefore" << "";
        QTest::newRow("standard error kept apart") << QByteArray("stderr") << 0 << "out:-V\n"
                                                   << "dfu-util: only on stderr\n";
    }
    void exit_codes_and_output() {
        QFETCH(QByteArray, mode);
        QFETCH(int, exit_code);
        QFETCH(QString, output);
        FakeTable table;
        qputenv("FAKE_TOOL_MODE", mode);
        MessageLog log;
        const DFU::CmdResult r = DFU::run_command(DFU::CmdID::version, {});
        QCOMPARE(r.exit_code, exit_code);
        QCOMPARE(r.output, output);
        QTEST(r.error_output, "error_output");
        QVERIFY(!r.failed_to_start);
        QVERIFY(r.start_error.isEmpty());
        QCOMPARE(log.count("Exit with"), exit_code == 0 ? 0 : 1);
        if (exit_code != 0) {
            const QString exit_line = log.texts().last();
            QVERIFY2(exit_line.startsWith(QString("Exit with %1 from \"").arg(exit_code)),
                     qPrintable(exit_line));
            QVERIFY2(exit_line.contains("returned:"), qPrintable(exit_line));
        }
    }

    void a_program_that_cannot_start_is_a_failure() {
        FakeTable table;
        DFU::commands[DFU::CmdID::version].program = "no-such-program";
        MessageLog log;
        const DFU::CmdResult r = DFU::run_command(DFU::CmdID::version, {});
        QCOMPARE(r.exit_code, -1);
        QVERIFY(r.output.isEmpty());
        QVERIFY(r.failed_to_start);
        QVERIFY(!r.start_error.isEmpty()); // Qt's words, e.g. "execvp: No such file or directory"
        QCOMPARE(log.count("waitForFinished(): Process did not finish in time"), 1);
        QCOMPARE(log.count("will wait again, forever"), 1);
        QCOMPARE(log.count("Exit with -1"), 1);
    }

    void a_slow_child_is_waited_for_after_the_time_out() {
        FakeTable table;
        DFU::runner::set_first_wait_ms(200);
        qputenv("FAKE_TOOL_MODE", "sleep:1");
        MessageLog log;
        const DFU::CmdResult r = DFU::run_command(DFU::CmdID::download_FW, {"f.dfu"});
        QCOMPARE(r.exit_code, 0);
        // Both parts of the output: before and after the time-out.
        QCOMPARE(r.output, QString("out:-d 0483 -a 0 -D f.dfu\nlate\n"));
        const QStringList texts = log.texts();
        const int timeout_at = texts.indexOf(QRegularExpression(
            "^waitForFinished\\(\\): Process did not finish in time, exit status: "
            "QProcess::NormalExit and output: \"out:.*"));
        QVERIFY2(timeout_at >= 0, qPrintable(texts.join('|')));
        QCOMPARE(texts.value(timeout_at + 1), QString("will wait again, forever"));
    }

    // Each update reaches the callback while the child still runs; the output is the same.
    void progress_is_handed_on_as_it_is_printed() {
        FakeTable table;
        qputenv("FAKE_TOOL_MODE", "progress");
        const QString ended = table.record_path() + ".ended";
        std::vector<int> percents;
        bool first_while_running = false;
        const DFU::CmdResult r = DFU::run_command(DFU::CmdID::download_FW, {"f"}, [&](int p) {
            if (percents.empty())
                first_while_running = !QFile::exists(ended);
            percents.push_back(p);
        });
        QCOMPARE(r.exit_code, 0);
        QCOMPARE(percents, (std::vector<int>{0, 52, 100}));
        QVERIFY(first_while_running);
        QVERIFY(r.output.startsWith("out:-d 0483 -a 0 -D f\n\rDownload\t[ "));
        QVERIFY(r.output.endsWith("100%       400308 bytes\nDownload done.\n"));
    }

    // A stop gives up every run but the two transfers, which run to their end.
    void a_stop_gives_up_short_runs_never_a_transfer_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<bool>("given_up");
        QTest::newRow("version") << int(DFU::CmdID::version) << QStringList() << true;
        QTest::newRow("list") << int(DFU::CmdID::list) << QStringList() << true;
        QTest::newRow("OTP read") << int(DFU::CmdID::upload_OTP) << QStringList{"o"} << true;
        QTest::newRow("information read") << int(DFU::CmdID::upload_FW_info) << QStringList{"i"} << true;
        QTest::newRow("read-back")
            << int(DFU::CmdID::upload_FW)
            << QStringList{"-s", region_text(flash_base, 400308), "-U", "p"} << false;
        QTest::newRow("download") << int(DFU::CmdID::download_FW) << QStringList{"f"} << false;
    }
    void a_stop_gives_up_short_runs_never_a_transfer() {
        QFETCH(int, id);
        QFETCH(QStringList, extra);
        QFETCH(bool, given_up);
        FakeTable table;
        qputenv("FAKE_TOOL_MODE", "sleep:1");
        DFU::runner::give_up_short_runs(); // stands for every run started from now on
        MessageLog log;
        const DFU::CmdResult r = DFU::run_command(DFU::CmdID(id), extra);
        QCOMPARE(r.exit_code, given_up ? -1 : 0);
        QCOMPARE(r.output.endsWith("late\n"), !given_up);
        QCOMPARE(log.count("Giving up on"), given_up ? 1 : 0);
        QVERIFY(!DFU::runner::giving_up()); // the last resort is another request
    }

    void giving_up_kills_and_reaps_a_child_that_never_ends() {
        FakeTable table;
        DFU::runner::set_first_wait_ms(100);
        qputenv("FAKE_TOOL_MODE", "hang");
        QTimer::singleShot(300, [] { DFU::runner::give_up(); });
        DFU::CmdResult r;
        QThread* worker = QThread::create([&r] { r = DFU::run_command(DFU::CmdID::download_FW, {"f"}); });
        MessageLog log;
        worker->start();
        // Generous bound: the child sleeps for more than a day unless it is killed.
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
        delete worker;
        QCOMPARE(r.exit_code, -1);
        QCOMPARE(log.count("Giving up on"), 1);
        QCOMPARE(log.count("Exit with -1"), 1);
        // While the request stands, a new child is killed as soon as it is started.
        QVERIFY(DFU::runner::giving_up());
        QCOMPARE(DFU::run_command(DFU::CmdID::download_FW, {"f"}).exit_code, -1);
    }

    // The worker's repeated polls: the watch sees the whole result, the log sees nothing.
    void a_quiet_watch_keeps_the_result_and_the_log_quiet() {
        FakeTable table;
        qputenv("FAKE_TOOL_MODE", "exit:74");
        MessageLog log;
        DFU::RunWatch outer;
        {
            DFU::RunWatch quiet(DFU::RunWatch::Logging::quiet);
            QVERIFY(!quiet.last());
            DFU::run_command(DFU::CmdID::upload_OTP, {"otp.bin"});
            QVERIFY(quiet.last());
            QCOMPARE(quiet.last()->exit_code, 74);
            DFU::commands[DFU::CmdID::version].program = "no-such-program";
            DFU::run_command(DFU::CmdID::version, {});
            QVERIFY(quiet.last()->failed_to_start);
            QCOMPARE(log.texts(), QStringList());
        }
        QVERIFY(outer.last()->failed_to_start); // an outer watch sees the inner runs too
        DFU::run_command(DFU::CmdID::upload_OTP, {"otp.bin"});
        QCOMPARE(log.count("Start "), 1);
        QCOMPARE(log.count("Exit with 74"), 1);
    }
};

QTEST_GUILESS_MAIN(TestRunner)
#include "test_runner.moc"
