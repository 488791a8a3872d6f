// One window at a time: a second start of the program by the same user, in the same mode,
// opens nothing, brings the first to the front and ends with a non-zero status; a lock left by
// a killed start never blocks a start, and simulator mode has a lock of its own.

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString program = QStringLiteral(ORVANTA_EXECUTABLE);
constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed

// Runs of the program that share one user's runtime and data directories.
class Session {
public:
    Session() {
        QDir().mkpath(runtime());
        QFile::setPermissions(runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString runtime() const { return dir.filePath("runtime"); }

    std::unique_ptr<QProcess> start(const QStringList& arguments) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", runtime());
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        env.insert("ORVANTA_SIMULATOR_STATE_DIR", dir.filePath("state"));
        env.remove("QT_LOGGING_RULES");
        // This test is about locks. LeakSanitizer's tracer can itself crash when the program
        // ends right after giving up a listing (it did so after a killed start); the program's
        // leaks are checked by the process test.
        if (env.contains("ASAN_OPTIONS"))
            env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        p->setProcessEnvironment(env);
        p->start(program, arguments);
        return p;
    }

    QTemporaryDir dir;
};

// Collects standard error until it holds the fragment or the program has ended.
bool wait_for(QProcess& p, QByteArray& err, const QByteArray& fragment) {
    QElapsedTimer t;
    t.start();
    while (!err.contains(fragment) && !t.hasExpired(generous_ms)) {
        if (p.state() == QProcess::NotRunning && !p.bytesAvailable())
            break;
        p.waitForReadyRead(100);
        err += p.readAllStandardError();
    }
    return err.contains(fragment);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void one_window_at_a_time_data() {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<bool>("first_killed"); // SIGKILL: its lock stays behind
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<bool>("second_starts");
        const QStringList sim = {"--use-simulator"};
        QTest::newRow("second start in simulator mode") << sim << false << sim << false;
        QTest::newRow("second start with the device")
            << QStringList() << false << QStringList() << false;
        QTest::newRow("simulator beside the device") << QStringList() << false << sim << true;
        QTest::newRow("after a killed start") << sim << true << sim << true;
    }
    void one_window_at_a_time() {
        QFETCH(QStringList, first);
        QFETCH(bool, first_killed);
        QFETCH(QStringList, second);
        QFETCH(bool, second_starts);
        Session session;
        std::unique_ptr<QProcess> one = session.start(first);
        QByteArray one_err;
        QVERIFY2(wait_for(*one, one_err, "Starting sm_A"), one_err.constData());
        if (first_killed) {
            one->kill();
            QVERIFY(one->waitForFinished(generous_ms));
            QVERIFY(!QDir(session.runtime()).entryList({"*.lock"}).isEmpty()); // left behind
        }

        std::unique_ptr<QProcess> two = session.start(second);
        QByteArray two_err;
        if (second_starts) {
            QVERIFY2(wait_for(*two, two_err, "Starting sm_A"), two_err.constData());
            two->terminate();
            QVERIFY(two->waitForFinished(generous_ms));
            QCOMPARE(two->exitCode(), 0);
        } else {
            QVERIFY(two->waitForFinished(generous_ms));
            two_err += two->readAllStandardError();
            QCOMPARE(two->exitStatus(), QProcess::NormalExit);
            QVERIFY(two->exitCode() != 0);
            QVERIFY2(two_err.contains("is already running"), two_err.constData());
            // No start-up: no window, no dfu-util (nor its version check), no simulator.
            QVERIFY2(!two_err.contains("Will use") && !two_err.contains("Start "),
                     two_err.constData());
            QVERIFY2(wait_for(*one, one_err, "it is brought to the front"), one_err.constData());
            QCOMPARE(one->state(), QProcess::Running);
        }
        if (one->state() == QProcess::Running) {
            one->terminate();
            QVERIFY(one->waitForFinished(generous_ms));
            QCOMPARE(one->exitCode(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
