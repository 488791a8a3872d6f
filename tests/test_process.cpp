// The program as a whole process: started in simulator mode with the log window, it logs in the
// log window's format, keeps its files in its own extraction directory, reads the simulated
// unit, and ends cleanly on SIGTERM or SIGINT; unknown switches stop it before start-up.

#include "device/memory_map.h"
#include "file_contents.h"
#include "simulator/simulator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

using namespace Device::memory_map;

namespace {

const QString program = QStringLiteral(ORVANTA_EXECUTABLE);
const QStringList simulator_with_log = {QStringLiteral("--use-simulator"),
                                        QStringLiteral("--use-log-window")};
const QStringList extracted_files = {QStringLiteral("firmware.dfu"), QStringLiteral("firmware.bin"),
                                     QStringLiteral("dfu-util"),
                                     QStringLiteral("libusb-1.0.0.dylib")};
// Generous bounds for waits; nothing here measures speed. Shut-down alone pauses 2 s.
constexpr int start_up_ms = 60000;
constexpr int shut_down_ms = 60000;


// The extraction directories that exist in a temporary directory, sorted case-sensitively.
QStringList extraction_dirs(const QString& tmp) {
    QStringList dirs;
    for (const QString& name : QDir(tmp).entryList({QStringLiteral("upgrade_*")},
                                                   QDir::Dirs | QDir::NoDotAndDotDot))
        dirs << QDir(tmp).filePath(name);
    dirs.sort();
    return dirs;
}

// One run of the program, offscreen, with its own simulated units and, unless another is
// given, its own temporary directory.
class Run {
public:
    explicit Run(const QString& shared_tmp = QString())
        : tmp_path(shared_tmp.isEmpty() ? own_tmp.path() : shared_tmp) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("ORVANTA_SIMULATOR_STATE_DIR"), state.path());
        env.insert(QStringLiteral("TMPDIR"), tmp_path);
        // A user of its own: one window at a time holds for each user (XDG_RUNTIME_DIR).
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), data.path());
        // Rules or patterns from the caller's environment would change what reaches stderr.
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::SeparateChannels);
    }
    ~Run() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(shut_down_ms);
        }
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    bool start(const QStringList& arguments) {
        process.start(program, arguments);
        return process.waitForStarted(start_up_ms);
    }

    // Collects standard error until it holds the fragment, the program ends or time runs out.
    bool wait_for(const QByteArray& fragment, int ms = start_up_ms) {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            collect();
            if (err.contains(fragment))
                return true;
            if (process.state() == QProcess::NotRunning || timer.hasExpired(ms))
                return false;
            process.waitForReadyRead(100);
        }
    }

    bool wait_for_end(int ms = shut_down_ms) {
        const bool ended = process.state() == QProcess::NotRunning || process.waitForFinished(ms);
        collect();
        return ended;
    }

    void send(int signal_number) { ::kill(static_cast<pid_t>(process.processId()), signal_number); }

    // The extraction directory this run reports when it makes its dfu-util executable.
    QString own_extraction_dir() const {
        static const QRegularExpression executable(
            QStringLiteral("make it executable: \"([^\"]*)/dfu-util\""));
        const QRegularExpressionMatch m = executable.match(QString::fromLocal8Bit(err));
        return m.hasMatch() ? m.captured(1) : QString();
    }

    QTemporaryDir state;
    QTemporaryDir runtime;
    QTemporaryDir data;
    QTemporaryDir own_tmp;
    const QString tmp_path;
    QProcess process;
    QByteArray err;

private:
    void collect() { err += process.readAllStandardError(); }
};

// A message as the log window writes it to stderr: "<Type>: <text> (<file>:<line>, <function>)".
// Texts may span lines (a device record), so a record ends at the first line that closes it;
// the file is a path without blanks, which tells it from parentheses inside the text.
struct Record {
    QString type;
    QString text;
};

QVector<Record> records(const QByteArray& err) {
    static const QRegularExpression record(
        QStringLiteral("^(Debug|Info|Warning|Critical|Fatal): (.*?) \\([^\\s()]*:\\d+, [^\\n]*\\)$"),
        QRegularExpression::MultilineOption | QRegularExpression::DotMatchesEverythingOption);
    QVector<Record> found;
    auto it = record.globalMatch(QString::fromLocal8Bit(err));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        found.push_back({m.captured(1), m.captured(2)});
    }
    return found;
}

int count_records(const QVector<Record>& all, const QString& type, const QString& prefix) {
    int n = 0;
    for (const Record& r : all)
        n += r.type == type && r.text.startsWith(prefix);
    return n;
}

} // namespace

class TestProcess : public QObject {
    Q_OBJECT

private slots:
    void logsInLogWindowFormatAndReadsTheUnit();
    void endsCleanlyOnSignal_data();
    void endsCleanlyOnSignal();
    void unknownSwitchesAreRefused_data();
    void unknownSwitchesAreRefused();
    void twoInstancesHaveTheirOwnExtractionDirectories();
    void workerMessagesAfterTheEventLoopReachStandardError();
};

void TestProcess::logsInLogWindowFormatAndReadsTheUnit() {
    Run run;
    QVERIFY(run.start(simulator_with_log));
    QVERIFY2(run.wait_for("Device connected with:"), run.err.constData());

    // Before the handler is installed, the command line's message uses Qt's default output.
    const int plain = run.err.indexOf(
        "Initial value of 'simulator::use'=false, isSet('-s')=true, isSet('-S')=false\n");
    const int first_formatted = run.err.indexOf(
        "Info: Will use simulator (i.e. option 'use_simulator). (");
    QVERIFY2(plain >= 0, run.err.constData());
    QVERIFY2(first_formatted > plain, run.err.constData());
    // From there on nothing goes through the default output: the message appears only once.
    QCOMPARE(run.err.count("Will use simulator"), 1);

    const QVector<Record> all = records(run.err);
    QCOMPARE(count_records(all, "Info", "Will use simulator (i.e. option 'use_simulator)."), 1);
    QCOMPARE(count_records(all, "Info", "Starting sm_A"), 1);
    QVERIFY(count_records(all, "Debug", "Extracted ") >= 4);
    QCOMPARE(count_records(all, "Info", "Device connected with:\n"), 1);
    // The default configuration's unit: a Lumo-7 with the older revision.
    const auto device = std::find_if(all.begin(), all.end(), [](const Record& r) {
        return r.text.startsWith("Device connected with:");
    });
    QVERIFY2(device->text.contains("B7"), qPrintable(device->text));

    // The extraction directory, in the program's temporary directory, holds the four files.
    const QStringList dirs = extraction_dirs(run.tmp_path);
    QCOMPARE(dirs.size(), 1);
    QCOMPARE(run.own_extraction_dir(), dirs.first());
    for (const QString& name : extracted_files)
        QVERIFY2(QFileInfo::exists(QDir(dirs.first()).filePath(name)), qPrintable(name));
    QCOMPARE(read_all(QDir(dirs.first()).filePath("firmware.bin")),
             read_all(":resources/firmware.bin"));
    QCOMPARE(read_all(QDir(dirs.first()).filePath("firmware.dfu")),
             read_all(":resources/firmware.dfu"));
    QVERIFY(QFileInfo(QDir(dirs.first()).filePath("dfu-util")).isExecutable());
    QCOMPARE(run.process.state(), QProcess::Running);
}

void TestProcess::endsCleanlyOnSignal_data() {
    QTest::addColumn<int>("signal_number");
    QTest::addColumn<bool>("unit_read");
    QTest::newRow("SIGTERM while a unit is connected") << int(SIGTERM) << true;
    QTest::newRow("SIGINT while a unit is connected") << int(SIGINT) << true;
    QTest::newRow("SIGTERM right after start-up") << int(SIGTERM) << false;
}

void TestProcess::endsCleanlyOnSignal() {
    QFETCH(int, signal_number);
    QFETCH(bool, unit_read);

    Run run;
    QVERIFY(run.start(simulator_with_log));
    QVERIFY2(run.wait_for(unit_read ? "Device connected with:" : "Starting sm_A"),
             run.err.constData());
    const QString dir = run.own_extraction_dir();
    QVERIFY(QFileInfo(dir).isDir());

    run.send(signal_number);
    QVERIFY2(run.wait_for_end(), run.err.constData());
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process.exitCode(), 0);

    const QVector<Record> all = records(run.err);
    QCOMPARE(count_records(all, "Info", "app.exec() returns:  0"), 1);
    QCOMPARE(count_records(all, "Info", "Waiting 2 s before deleting objects"), 1);
    QVERIFY2(run.err.indexOf("app.exec() returns:") <
                 run.err.indexOf("Waiting 2 s before deleting objects"),
             run.err.constData());
    QVERIFY2(!QFileInfo::exists(dir), qPrintable(dir));
    QVERIFY(extraction_dirs(run.tmp_path).isEmpty());
}

void TestProcess::unknownSwitchesAreRefused_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("option");
    QTest::newRow("long help") << QStringList{"--help"} << "help";
    QTest::newRow("short help") << QStringList{"-h"} << "h";
    QTest::newRow("capital L") << QStringList{"-L"} << "L";
    QTest::newRow("version") << QStringList{"--version"} << "version";
    QTest::newRow("help after valid switches")
        << QStringList{"--use-simulator", "--use-log-window", "--help"} << "help";
    QTest::newRow("unknown letter combined with valid ones") << QStringList{"-slx"} << "x";
}

void TestProcess::unknownSwitchesAreRefused() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, option);

    Run run;
    QVERIFY(run.start(arguments));
    QVERIFY2(run.wait_for_end(), run.err.constData());
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QVERIFY(run.process.exitCode() != 0);
    QVERIFY2(run.err.contains(QStringLiteral("Unknown option '%1'").arg(option).toLocal8Bit()),
             run.err.constData());
    // Start-up went no further: no window, no simulator, no extraction directory left behind.
    QVERIFY2(!run.err.contains("Will use"), run.err.constData());
    QVERIFY(run.process.readAllStandardOutput().isEmpty());
    QVERIFY(extraction_dirs(run.tmp_path).isEmpty());
}

void TestProcess::twoInstancesHaveTheirOwnExtractionDirectories() {
    QTemporaryDir shared_tmp;
    Run first(shared_tmp.path());
    Run second(shared_tmp.path());
    QVERIFY(first.start(simulator_with_log));
    QVERIFY(second.start(simulator_with_log));
    QVERIFY2(first.wait_for("Starting sm_A"), first.err.constData());
    QVERIFY2(second.wait_for("Starting sm_A"), second.err.constData());

    const QString first_dir = first.own_extraction_dir();
    const QString second_dir = second.own_extraction_dir();
    QVERIFY(!first_dir.isEmpty());
    QVERIFY(!second_dir.isEmpty());
    QVERIFY(first_dir != second_dir);
    QStringList both = {first_dir, second_dir};
    both.sort();
    QCOMPARE(extraction_dirs(shared_tmp.path()), both);
    for (const QString& dir : both)
        for (const QString& name : extracted_files)
            QVERIFY2(QFileInfo::exists(QDir(dir).filePath(name)), qPrintable(dir + "/" + name));

    // Each removes only its own directory.
    first.send(SIGTERM);
    QVERIFY2(first.wait_for_end(), first.err.constData());
    QCOMPARE(first.process.exitCode(), 0);
    QCOMPARE(extraction_dirs(shared_tmp.path()), QStringList{second_dir});
    for (const QString& name : extracted_files)
        QVERIFY(QFileInfo::exists(QDir(second_dir).filePath(name)));

    second.send(SIGTERM);
    QVERIFY2(second.wait_for_end(), second.err.constData());
    QCOMPARE(second.process.exitCode(), 0);
    QVERIFY(extraction_dirs(shared_tmp.path()).isEmpty());
}

// The event loop ends (the window closed, or here SIGTERM, which takes the same way out) while
// the worker reads the unit back: shut-down waits for the read-back, and what the worker logs
// after the event loop has ended reaches standard error in the log window's format.
void TestProcess::workerMessagesAfterTheEventLoopReachStandardError() {
    Run run;
    QProcess setup; // a unit that holds the desired firmware is read back at once
    QProcessEnvironment env = run.process.processEnvironment();
    setup.setProcessEnvironment(env);
    setup.start(simulator::dfu_util_path("dfu-util_simulator.sh"),
                {"--dfu-util-command", "setup_prepared_config", "desired_firmware"});
    QVERIFY(setup.waitForFinished(start_up_ms));
    QCOMPARE(setup.exitCode(), 0);

    QVERIFY(run.start(simulator_with_log));
    // At its normal pace the simulator takes more than a second for the read-back.
    const QString read_back = '"' + region_text(flash_base, 400308) + '"';
    QVERIFY2(run.wait_for(read_back.toUtf8()), run.err.constData());
    run.send(SIGTERM);
    QVERIFY2(run.wait_for_end(), run.err.constData());
    QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process.exitCode(), 0);

    const int loop_ended = run.err.indexOf("Info: app.exec() returns:  0 (");
    const int matched = run.err.indexOf("Debug: Uploaded FW matches (");
    QVERIFY2(loop_ended >= 0 && matched > loop_ended, run.err.constData());
    QVERIFY(run.err.indexOf("Debug: \"SM_A: /sig_FwUploadedMatches\" (") > loop_ended);
    QVERIFY(!run.err.contains("Giving up"));
}

QTEST_GUILESS_MAIN(TestProcess)
#include "test_process.moc"
