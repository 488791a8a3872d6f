// The whole program in real-device mode when its working files cannot be prepared: TMPDIR names
// no directory. It runs no dfu-util at all (none from PATH either), says so in the window, and
// logs it once.
//
// The extraction directory is made during static initialisation, so the test runs itself
// again with that TMPDIR and with a dfu-util on PATH that records every run.

#include "app/log_message_handler.h"
#include "app/startup.h"
#include "gui/install_button.h"
#include "gui/main_window.h"
#include "signal_counter.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

// The program under test, as start-up made it.
std::unique_ptr<WindowProgram> owned_program;
WindowProgram* program = nullptr;

constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed
constexpr char bin_variable[] = "ORVANTA_TEST_PATH_BIN";
const QString no_directory = QStringLiteral("/dev/null"); // never a directory

QString bin_dir() {
    return QFile::decodeName(qgetenv(bin_variable));
}
QString runs_path() {
    return bin_dir() + "/runs";
}
QString stderr_path() {
    return bin_dir() + "/stderr.txt";
}

QString stderr_text() {
    std::fflush(stderr);
    QFile f(stderr_path());
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QString plain(const QString& rich) {
    return QTextDocumentFragment::fromHtml(rich).toPlainText().trimmed();
}

// Before static initialisation of the run under test: a dfu-util on PATH that records, then
// the test itself again with the TMPDIR that names no directory.
int run_again_without_working_files(char** argv) {
    QTemporaryDir bin;
    if (!bin.isValid())
        return 2;
    bin.setAutoRemove(false); // the run under test removes it
    QFile tool(bin.filePath("dfu-util"));
    if (!tool.open(QIODevice::WriteOnly))
        return 2;
    tool.write(QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1/runs'\n").arg(bin.path()).toUtf8());
    tool.close();
    tool.setPermissions(tool.permissions() | QFileDevice::ExeOwner);
    qputenv(bin_variable, QFile::encodeName(bin.path()));
    qputenv("PATH", QFile::encodeName(bin.path()) + ":" + qgetenv("PATH"));
    qputenv("TMPDIR", QFile::encodeName(no_directory));
    ::execv(argv[0], argv);
    return 2; // exec failed
}

} // namespace

class TestEndToEndWithoutWorkingFiles : public QObject {
    Q_OBJECT

private slots:
    // QtTest installs its own message handler; put the program's back, as start-up left it.
    void init() {
        if (program->use_log_window)
            qInstallMessageHandler(logWindowMessageHandler);
    }

    void the_window_says_where_and_why() {
        const QString hint = QStringLiteral("The program could not prepare its working files in "
                                            "/dev/null (Not a directory), so it uses no unit.");
        QTRY_COMPARE_WITH_TIMEOUT(plain(program->mainWindow->hintLabel->text()), hint, generous_ms);
        QCOMPARE(plain(program->mainWindow->statusLabel->text()),
                 QString("The USB cable must have a 'Type B' plug and a 'Type A' plug."));
        QVERIFY(program->mainWindow->hintFits());
        QVERIFY(!program->mainWindow->installButton->isEnabled());
        // The window still names what it would install.
        QCOMPARE(program->settings.desired_revision, QString("B8"));
    }

    void nothing_runs_and_the_log_says_it_once() {
        // Long enough for many polls, had the worker been polling.
        SignalCounter scans(program->sm_A(), &SM_A::sig_scanning);
        QTest::qWait(1500);
        QCOMPARE(scans.count(), 0);
        QVERIFY2(!QFile::exists(runs_path()), qPrintable(runs_path()));
        const QString err = stderr_text();
        QCOMPARE(err.count("Failed to create temporary directory: \"Not a directory\""), 1);
        QCOMPARE(err.count("SM_A: situation: no working files: /dev/null: Not a directory"), 1);
        QCOMPARE(err.count("Result of execution test"), 0);
        // The program's own pace, as start-up sets it without options.
        QCOMPARE(program->sm_A()->no_device_delay_ms, 500);
        QCOMPARE(program->sm_A()->connected_delay_ms, 1000);
    }
};

int main(int argc, char** argv) {
    if (bin_dir().isEmpty())
        return run_again_without_working_files(argv);

    const int saved_stderr = ::dup(2);
    if (!std::freopen(QFile::encodeName(stderr_path()).constData(), "w", stderr))
        return 2;
    int app_argc = 2; // real-device mode, with the log window, as "-l" starts it
    char log[] = "-l";
    char* app_argv[] = {argv[0], log, nullptr};
    QApplication app(app_argc, app_argv);
    owned_program = GUI_init();
    program = owned_program.get();

    TestEndToEndWithoutWorkingFiles test;
    const int result = QTest::qExec(&test, argc, argv);
    GUI_cleanup(*program, 0);
    owned_program.reset();

    std::fflush(stderr);
    ::dup2(saved_stderr, 2);
    if (result != 0) {
        QFile f(stderr_path());
        if (f.open(QIODevice::ReadOnly))
            std::fputs(f.readAll().right(20000).constData(), stderr);
    }
    QDir(bin_dir()).removeRecursively();
    return result;
}

#include "test_end_to_end_without_working_files.moc"
