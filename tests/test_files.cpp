// The extraction directory, the extraction of embedded files and the small file helpers.

#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "files/files.h"
#include "files/support_misc.h"
#include "file_contents.h"
#include "message_log.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {
int posix_mode(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}
} // namespace

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void extraction_directory_is_private_and_fresh() {
        QVERIFY(Files::external_dir.isValid());
        QCOMPARE(posix_mode(Files::external_dir.path()), 0700);
        QVERIFY(QFileInfo(Files::external_dir.path()).fileName().startsWith("upgrade_"));
        QVERIFY(QDir(Files::external_dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        QCOMPARE(Files::path_of("x.bin"), Files::external_dir.path() + "/x.bin");
        QCOMPARE(DFU::dfu_util::full_path(), Files::external_dir.path() + "/dfu-util");
        QCOMPARE(DFU::dfu_util::basename(), QString("dfu-util"));
    }

    // Runs in order: extraction first, then what depends on the extracted files.
    void extracts_the_start_up_files_read_only() {
        MessageLog log;
        QVERIFY(Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin,
                                          Files::ID::dfu_util_executable, Files::ID::libusb_library},
                                         true));
        QCOMPARE(log.texts(QtDebugMsg),
                 QStringList({"Extracted  \"firmware.dfu\"", "Extracted  \"firmware.bin\"",
                              "Extracted  \"dfu-util\"", "Extracted  \"libusb-1.0.0.dylib\""}));
        QCOMPARE(QFileInfo(Files::path_of("firmware.bin")).size(), qint64(400308));
        QCOMPARE(posix_mode(DFU::dfu_util::full_path()), 0444);
    }

    void extraction_failures_data() {
        QTest::addColumn<bool>("must_succeed");
        QTest::addColumn<bool>("result");
        QTest::newRow("must succeed") << true << false;
        QTest::newRow("may fail") << false << true;
    }
    void extraction_failures() {
        QFETCH(bool, must_succeed);
        QFETCH(bool, result);
        MessageLog log;
        // No resource for the upload file; firmware.bin is already there and is not overwritten.
        QCOMPARE(Files::extract_resources({Files::ID::uploaded_FW, Files::ID::firmware_bin}, must_succeed),
                 result);
        QCOMPARE(log.texts(QtInfoMsg), QStringList({"Failed to extract  \"uploaded_FW.bin\"",
                                                    "Failed to extract  \"firmware.bin\""}));
        QVERIFY(!QFile::exists(Files::path_of("uploaded_FW.bin")));
        QVERIFY(Files::extract_resources({}, true));
    }

    void marks_the_executable_and_reports_a_missing_file() {
        MessageLog log;
        QVERIFY(support_misc::mark_file_executable(DFU::dfu_util::full_path()));
        QCOMPARE(posix_mode(DFU::dfu_util::full_path()), 0555);
        QCOMPARE(log.count("Changing file permissions to make it executable:"), 1);
        QVERIFY(!support_misc::mark_file_executable(Files::path_of("missing")));
        QCOMPARE(log.texts(QtWarningMsg),
                 QStringList("Failed to mark file (doesn't exist) as executable: \"" +
                             Files::path_of("missing") + "\""));
    }

    void extracted_dfu_util_loads_the_extracted_library() {
        QProcess ldd;
        ldd.start("ldd", {DFU::dfu_util::full_path()});
        QVERIFY(ldd.waitForFinished(10000));
        const QString out = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        QVERIFY2(out.contains("libusb-1.0.0.dylib => " + Files::path_of("libusb-1.0.0.dylib")),
                 qPrintable(out));
        QVERIFY2(!out.contains("libusb-1.0.so"), qPrintable(out));
    }

    void execution_test_accepts_the_embedded_dfu_util_0_9() {
        const QString saved = DFU::Command::path;
        DFU::Command::path = Files::external_dir.path();
        MessageLog log;
        const bool ok = DFU::dfu_util::execution_test();
        DFU::Command::path = saved;
        QCOMPARE(DFU::dfu_util::expected_output_of_execution_test.size(), 261);
        QVERIFY2(ok, qPrintable(log.texts().join('\n')));
        QCOMPARE(log.texts(QtInfoMsg).last(),
                 QString("Result of execution test: status was ok and output: \"as expected\""));
    }

    void ensure_file_is_deleted_removes_only_regular_files() {
        QTemporaryDir dir;
        const QString file = dir.filePath("stale.bin");
        QVERIFY(write_all(file, QByteArray()));
        support_misc::ensure_file_is_deleted(file);
        QVERIFY(!QFile::exists(file));
        support_misc::ensure_file_is_deleted(file); // missing: nothing happens
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        support_misc::ensure_file_is_deleted(dir.filePath("sub"));
        QVERIFY(QFileInfo(dir.filePath("sub")).isDir());
    }

    void load_text_file_stops_at_nul_and_throws_when_unreadable() {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.json");
        QVERIFY(write_all(path, QByteArray("caf\xc3\xa9\r\nline\0hidden", 17)));
        QCOMPARE(support_misc::load_text_file(path), QString::fromUtf8("caf\xc3\xa9\r\nline"));
        try {
            support_misc::load_text_file(dir.filePath("none"));
            QFAIL("no exception");
        } catch (const QString& e) {
            QCOMPARE(e, "Couldn't open file: " + dir.filePath("none"));
        }
        QCOMPARE(support_misc::maybe_use_file_instead_of_resource(":resources/x"), QString(":resources/x"));
    }

    void remove_carriage_returns_keeps_line_feeds() {
        QCOMPARE(support_misc::remove_carriage_returns("a\r\nb\r\n\r", QChar(13)), QString("a\nb\n"));
        QCOMPARE(support_misc::remove_carriage_returns("none", QChar(13)), QString("none"));
    }

    void platform_is_written_by_name_and_stream_state_is_kept() {
        QCOMPARE(support_misc::compiled_for_platform(), support_misc::Platform::Linux);
        QVERIFY(support_misc::compiled_for_platform(support_misc::Platform::Linux));
        QVERIFY(!support_misc::compiled_for_platform(support_misc::Platform::macOS));
        QString text;
        QDebug(&text) << support_misc::Platform::macOS << QString("q") << support_misc::Platform(9)
                      << support_misc::Platform::windows;
        QCOMPARE(text, QString("macOS \"q\"  windows "));
    }
};

QTEST_GUILESS_MAIN(TestFiles)
#include "test_files.moc"
