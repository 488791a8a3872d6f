// The upgrade record wired into the program as start-up wires it, against the fake dfu-util:
// each outcome writes its row, a damaged or unwritable record never holds the upgrade up, and
// the hint line and the history window tell what the record knows.

#include "app/globals.h"
#include "app/history_controller.h"
#include "app/log_message_handler.h"
#include "app/wiring.h"
#include "dfu/runner.h"
#include "fake_dfu_util.h"
#include "gui/history_window.h"
#include "gui/install_button.h"
#include "gui/log_window.h"
#include "gui/main_window.h"
#include "history/store.h"
#include "message_log.h"
#include "wired_program.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace {

using namespace wired;

// A directory made immutable (chattr +i) is made mutable again when this ends.
struct Immutable {
    QString dir;
    ~Immutable() {
        if (!dir.isEmpty())
            QProcess::execute("chattr", {"-i", dir});
    }
};

QString hint_line() {
    return QTextDocumentFragment::fromHtml(mainWindow->hintLabel->text()).toPlainText().trimmed();
}

void click_install() {
    QTRY_VERIFY_WITH_TIMEOUT(in(sm_B->B2) && mainWindow->installButton->isEnabled(), generous_ms);
    QTest::mouseClick(mainWindow->installButton, Qt::LeftButton);
}

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

const QString second_serial = QStringLiteral("2F1E3A4B5C6D");

QString sha256_of_carried_dfuse_file() {
    QFile f(":resources/firmware.dfu");
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(
        QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
}

QByteArray file_bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString moved_prefix() {
    return text("history_moved_aside").section('%', 0, 0);
}

// Puts the record at `path` into the state named; returns the bytes it then holds, if any.
QByteArray spoil(const QString& damage, const QString& path, Immutable* immutable) {
    const QString dir = QFileInfo(path).absolutePath();
    QDir().mkpath(dir);
    QByteArray bytes;
    if (damage == "garbage") {
        bytes = QByteArray("this is no database, ").repeated(400);
    } else if (damage == "damaged" || damage == "newer") {
        QString moved;
        History::Store(path).open(&moved);
        if (damage == "newer") {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "a newer program");
                db.setDatabaseName(path);
                db.open();
                QSqlQuery(db).exec("PRAGMA user_version = 99");
            }
            QSqlDatabase::removeDatabase("a newer program");
            return file_bytes(path);
        }
        bytes = file_bytes(path);
        bytes.replace(4096, 2000, QByteArray(2000, '\x5a')); // the table's page
    } else if (damage == "file in its place") {
        QDir(dir).removeRecursively();
        QFile file(dir);
        file.open(QIODevice::WriteOnly);
    } else {
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        // Root writes into read-only directories, but not into immutable ones.
        if (::geteuid() != 0 || QProcess::execute("chattr", {"+i", dir}) == 0)
            immutable->dir = dir;
    }
    if (!bytes.isEmpty()) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(FakeDfuUtil::Switch)

class TestHistory : public QObject {
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
                                         << "dfu-util: ERASE_PAGE not correctly executed" << true << false;
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
        attach(fake, flash == "desired" ? FakeDfuUtil::desired_firmware()
                                        : FakeDfuUtil::flash_image({3}, flash));
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
            WiredProgram program(path);
            if (action != "none")
                click_install();
            if (action == "stop") {
                QTRY_VERIFY_WITH_TIMEOUT(
                    sm_A->transfer_report().running == SM_A::Transfer::download, generous_ms);
                QTest::keyClick(mainWindow, Qt::Key_Escape);
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

    // The upgrade goes on whatever state the record is in, and the hint line says what became
    // of the record: once the unit is offered and after the verified upgrade. A row the record
    // cannot take is said whole in the log at the end; a record that is not ours stays as it is.
    void a_damaged_or_unwritable_record_never_holds_the_upgrade_up_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("first_hint"); // its beginning
        QTest::addColumn<QString>("last_hint");
        QTest::addColumn<int>("rows"); // -1: the file is left as it was
        const QString moved = QStringLiteral("Damaged record moved to history.sqlite.damaged-");
        const QString not_kept = QStringLiteral("The upgrade record is not being kept: ");
        const QString waits = QStringLiteral("1 row(s) wait for the upgrade record");
        const QString newer = QStringLiteral("The upgrade record belongs to a newer version");
        QTest::newRow("not a database") << "garbage" << moved << moved << 1;
        // The damage lies in the table's page, which only the first write reads.
        QTest::newRow("damaged database") << "damaged" << "" << moved << 1;
        QTest::newRow("directory cannot be made") << "file in its place" << not_kept << waits << 0;
        QTest::newRow("read-only directory") << "read-only" << not_kept << waits << 0;
        QTest::newRow("newer version") << "newer" << newer << newer << -1;
    }
    void a_damaged_or_unwritable_record_never_holds_the_upgrade_up() {
        QFETCH(QString, damage);
        QFETCH(QString, first_hint);
        QFETCH(QString, last_hint);
        QFETCH(int, rows);
        QTemporaryDir home;
        Immutable immutable; // made mutable again however the test ends
        const QString path = home.filePath("records/history.sqlite");
        const QByteArray old_bytes = spoil(damage, path, &immutable);
        if (damage == "read-only" && immutable.dir.isEmpty() && ::geteuid() == 0)
            QSKIP("root writes into read-only directories, and chattr +i failed here");
        FakeDfuUtil fake;
        attach(fake, FakeDfuUtil::flash_image({3}, "B7"));
        MessageLog log;
        {
            WiredProgram program(path);
            QTRY_VERIFY2_WITH_TIMEOUT(in(sm_B->B2) && hint_line().startsWith(first_hint),
                                      qPrintable(hint_line()), generous_ms);
            QVERIFY(mainWindow->hintFits());
            click_install();
            QTRY_VERIFY_WITH_TIMEOUT(in(sm_B->B6), generous_ms);
            QTRY_VERIFY2_WITH_TIMEOUT(hint_line().startsWith(last_hint), qPrintable(hint_line()),
                                      generous_ms);
            QVERIFY(mainWindow->hintFits());
            fake.set_units({}); // the note has been seen with the unit, which leaves
            QTRY_VERIFY_WITH_TIMEOUT(in(sm_B->B1), generous_ms);
            QCOMPARE(hint_line().startsWith(moved_prefix()), false);
        }
        QFile::setPermissions(home.filePath("records"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (rows == 0)
            QVERIFY(log.contains("outcome=upgraded")); // never silently lost
        if (rows < 0)
            QCOMPARE(file_bytes(path), old_bytes);
        if (rows <= 0)
            return;
        QCOMPARE(int(rows_of(path).size()), rows);
        QCOMPARE(rows_of(path).front().outcome, QString("upgraded"));
        const QStringList aside =
            QDir(home.filePath("records")).entryList({"history.sqlite.damaged-*"});
        QCOMPARE(aside.size(), 1); // its journal files, if any, have a suffix of their own
        QCOMPARE(file_bytes(home.filePath("records/" + aside.first())), old_bytes);
    }

    // Killed (SIGKILL) in a download: every row committed before is there, the file is sound,
    // and the attempt, written ahead, is found interrupted at the next start, once, and told
    // when its unit is connected again.
    void a_kill_during_a_download_leaves_the_attempt_interrupted() {
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        {
            History::Store store(path);
            QString moved;
            History::UpgradeRow earlier;
            earlier.serial = "EARLIER";
            earlier.outcome = "already_current";
            for (int i = 0; i < 5; ++i) {
                earlier.uuid = QString::number(i);
                QVERIFY(!store.put(earlier, &moved));
            }
        }
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", home.path()); // what the child leaves goes with this directory
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--upgrade-then-download", path});
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).contains("downloading") ||
                                     child.state() == QProcess::NotRunning,
                                 generous_ms);
        QVERIFY2(out.contains("committed\ndownloading"), out.constData());
        child.kill();
        QVERIFY(child.waitForFinished(generous_ms));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "after the kill");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("PRAGMA integrity_check") && q.next());
            QCOMPARE(q.value(0).toString(), QString("ok"));
        }
        QSqlDatabase::removeDatabase("after the kill");

        FakeDfuUtil fake;
        fake.set_otp(FakeDfuUtil::otp_image({3}), second_serial);
        fake.set_flash(FakeDfuUtil::flash_image({3}, "B7"), second_serial);
        fake.set_units({second_serial});
        WiredProgram program(path);
        const QString told = text("history_interrupted").section('%', 0, 0);
        QTRY_VERIFY2_WITH_TIMEOUT(hint_line().startsWith(told), qPrintable(hint_line()),
                                  generous_ms);
        const std::vector<History::UpgradeRow> rows = rows_of(path);
        QCOMPARE(int(rows.size()), 7);
        QCOMPARE(rows[0].serial, second_serial);
        QCOMPARE(rows[0].outcome, QString("interrupted"));
        QCOMPARE(rows[0].cause, QString("program ended during the download"));
        QCOMPARE(rows[1].outcome, QString("upgraded"));
        QCOMPARE(rows[1].serial, serial);
    }

    // Another program holds the record's write lock through an upgrade: the window answers,
    // the row waits and is written once the lock is released. A unit connected again is told
    // apart as upgraded here before; the history window shows the rows newest first, filters
    // them by serial and exports those shown.
    void the_record_is_seen_where_the_technician_looks() {
        FakeDfuUtil fake;
        attach(fake, FakeDfuUtil::flash_image({3}, "B7"));
        QTemporaryDir home;
        const QString path = home.filePath("history.sqlite");
        WiredProgram program(path);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), generous_ms);
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "another program");
        other.setDatabaseName(path);
        QVERIFY(other.open() && QSqlQuery(other).exec("BEGIN IMMEDIATE"));
        click_install();
        QTRY_VERIFY_WITH_TIMEOUT(in(sm_B->B6), generous_ms);
        QTRY_VERIFY2_WITH_TIMEOUT(hint_line().startsWith(text("history_waiting").arg("1", "")
                                                             .section(':', 0, 0)),
                                  qPrintable(hint_line()), generous_ms);
        mainWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mainWindow));
        for (bool visible : {true, false}) { // the window answers while the record is busy
            QTest::keyClick(visible ? static_cast<QWidget*>(mainWindow)
                                    : static_cast<QWidget*>(history_window()),
                            Qt::Key_H, Qt::ControlModifier);
            QTRY_COMPARE(history_window()->isVisible(), visible);
            if (visible)
                QVERIFY(QTest::qWaitForWindowActive(history_window()));
        }
        QVERIFY(QSqlQuery(other).exec("COMMIT"));
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("another program");
        const QString recorded = text("history_upgraded_recorded").arg("B8");
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(), recorded, generous_ms);
        // Good news in the calm colour, not the warnings' one.
        QCOMPARE(mainWindow->hintLabel->text(), text("status_note").arg(recorded.toHtmlEscaped()));

        fake.set_units({});
        QTRY_VERIFY_WITH_TIMEOUT(in(sm_B->B1), generous_ms);
        QCOMPARE(hint_line(), QString());
        fake.set_units({serial});
        QTRY_VERIFY_WITH_TIMEOUT(in(sm_B->B6), generous_ms); // verified on connection
        const History::UpgradeRow upgrade = rows_of(path).back();
        const QString told =
            text("history_last_upgrade")
                .arg(upgrade.ended_at.toLocalTime().toString("yyyy-MM-dd HH:mm"), "B7", "B8");
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(), told, generous_ms);
        QTRY_COMPARE_WITH_TIMEOUT(int(rows_of(path).size()), 2, generous_ms);

        QVERIFY(!history_window() || !history_window()->isVisible());
        mainWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(mainWindow));
        QTest::keyClick(mainWindow, Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(history_window()->isVisible());
        QAbstractItemModel* table = history_window()->table()->model();
        QTRY_COMPARE(table->rowCount(), 2);
        QCOMPARE(table->index(0, 4).data().toString(), QString("already_current")); // newest first
        QCOMPARE(table->index(1, 3).data().toString(), QString("B7 → B8"));
        history_window()->filter()->setText("no such serial");
        QTRY_COMPARE(table->rowCount(), 0);
        history_window()->filter()->setText(serial.left(5).toLower());
        QTRY_COMPARE(table->rowCount(), 2);
        const QString csv = home.filePath("export.csv");
        history_window()->export_to(csv);
        QTRY_VERIFY(QFile::exists(csv));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().count("\r\n"), 3); // the header and the two rows shown
        history_window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(history_window()));
        QTest::keyClick(history_window(), Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(!history_window()->isVisible());
    }
};

// The child of the kill test: one upgrade recorded, then a download into a second unit, whose
// row is written ahead, during which it is killed.
int upgrade_then_download(const QString& path) {
    FakeDfuUtil fake;
    attach(fake, FakeDfuUtil::flash_image({3}, "B7"));
    WiredProgram program(path);
    auto wait = [](auto condition) { return QTest::qWaitFor(condition, generous_ms); };
    if (!wait([] { return in(sm_B->B2) && mainWindow->installButton->isEnabled(); }))
        return 2;
    QTest::mouseClick(mainWindow->installButton, Qt::LeftButton);
    if (!wait([&path] { return in(sm_B->B6) && has_ended_row(path); }))
        return 3;
    std::puts("committed");
    fake.set_download_seconds(5);
    fake.set_otp(FakeDfuUtil::otp_image({3}), second_serial);
    fake.set_flash(FakeDfuUtil::flash_image({3}, "B7"), second_serial);
    fake.set_units({second_serial});
    if (!wait([] { return in(sm_B->B2) && sm_B->device_info.serial == second_serial; }))
        return 4;
    QTest::mouseClick(mainWindow->installButton, Qt::LeftButton);
    if (!wait([&path] {
            const std::vector<History::UpgradeRow> rows = rows_of(path);
            return sm_A->transfer_report().running == SM_A::Transfer::download && !rows.empty() &&
                   rows.front().phase == "download";
        }))
        return 5;
    std::puts("downloading");
    std::fflush(stdout);
    wait([] { return false; }); // killed here
    return 6;
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--upgrade-then-download")
        return upgrade_then_download(QString::fromLocal8Bit(argv[2]));
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_history.moc"
