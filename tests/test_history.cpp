// The upgrade record wired into the window's program as start-up wires it, against the fake
// dfu-util: a damaged or unwritable record never holds the upgrade up, a kill leaves the attempt
// interrupted, and the hint line and the history window tell what the record knows. Which row
// each outcome writes is the unit's upgrade's (test_unit_upgrade).

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
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
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
    return QTextDocumentFragment::fromHtml(wired::main_window()->hintLabel->text()).toPlainText().trimmed();
}

void click_install() {
    QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B2) && wired::main_window()->installButton->isEnabled(), generous_ms);
    QTest::mouseClick(wired::main_window()->installButton, Qt::LeftButton);
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

class TestHistory : public QObject {
    Q_OBJECT

private slots:
    void init() { DFU::runner::reset_give_up(); }

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
            QTRY_VERIFY2_WITH_TIMEOUT(in(wired::sm_B()->B2) && hint_line().startsWith(first_hint),
                                      qPrintable(hint_line()), generous_ms);
            QVERIFY(wired::main_window()->hintFits());
            click_install();
            QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B6), generous_ms);
            QTRY_VERIFY2_WITH_TIMEOUT(hint_line().startsWith(last_hint), qPrintable(hint_line()),
                                      generous_ms);
            QVERIFY(wired::main_window()->hintFits());
            fake.set_units({}); // the note has been seen with the unit, which leaves
            QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B1), generous_ms);
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
        QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B6), generous_ms);
        QTRY_VERIFY2_WITH_TIMEOUT(hint_line().startsWith(text("history_waiting").arg("1", "")
                                                             .section(':', 0, 0)),
                                  qPrintable(hint_line()), generous_ms);
        wired::main_window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(wired::main_window()));
        for (bool visible : {true, false}) { // the window answers while the record is busy
            QTest::keyClick(visible ? static_cast<QWidget*>(wired::main_window())
                                    : static_cast<QWidget*>(wired::history_window()),
                            Qt::Key_H, Qt::ControlModifier);
            QTRY_COMPARE(wired::history_window()->isVisible(), visible);
            if (visible)
                QVERIFY(QTest::qWaitForWindowActive(wired::history_window()));
        }
        QVERIFY(QSqlQuery(other).exec("COMMIT"));
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase("another program");
        const QString recorded = text("history_upgraded_recorded").arg("B8");
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(), recorded, generous_ms);
        // Good news in the calm colour, not the warnings' one.
        QCOMPARE(wired::main_window()->hintLabel->text(), text("status_note").arg(recorded.toHtmlEscaped()));

        fake.set_units({});
        QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B1), generous_ms);
        QCOMPARE(hint_line(), QString());
        fake.set_units({serial});
        QTRY_VERIFY_WITH_TIMEOUT(in(wired::sm_B()->B6), generous_ms); // verified on connection
        const History::UpgradeRow upgrade = rows_of(path).back();
        const QString told =
            text("history_last_upgrade")
                .arg(upgrade.ended_at.toLocalTime().toString("yyyy-MM-dd HH:mm"), "B7", "B8");
        QTRY_COMPARE_WITH_TIMEOUT(hint_line(), told, generous_ms);
        QTRY_COMPARE_WITH_TIMEOUT(int(rows_of(path).size()), 2, generous_ms);

        QVERIFY(!wired::history_window() || !wired::history_window()->isVisible());
        wired::main_window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(wired::main_window()));
        QTest::keyClick(wired::main_window(), Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(wired::history_window()->isVisible());
        QAbstractItemModel* table = wired::history_window()->table()->model();
        QTRY_COMPARE(table->rowCount(), 2);
        QCOMPARE(table->index(0, 5).data().toString(), QString("already_current")); // newest first
        QCOMPARE(table->index(1, 4).data().toString(), QString("B7 → B8"));
        wired::history_window()->filter()->setText("no such serial");
        QTRY_COMPARE(table->rowCount(), 0);
        wired::history_window()->filter()->setText(serial.left(5).toLower());
        QTRY_COMPARE(table->rowCount(), 2);
        const QString csv = home.filePath("export.csv");
        wired::history_window()->export_to(csv);
        QTRY_VERIFY(QFile::exists(csv));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().count("\r\n"), 3); // the header and the two rows shown
        wired::history_window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(wired::history_window()));
        QTest::keyClick(wired::history_window(), Qt::Key_H, Qt::ControlModifier);
        QTRY_VERIFY(!wired::history_window()->isVisible());
    }
};

// The child of the kill test: one upgrade recorded, then a download into a second unit, whose
// row is written ahead, during which it is killed.
int upgrade_then_download(const QString& path) {
    FakeDfuUtil fake;
    attach(fake, FakeDfuUtil::flash_image({3}, "B7"));
    WiredProgram program(path);
    auto wait = [](auto condition) { return QTest::qWaitFor(condition, generous_ms); };
    if (!wait([] { return in(wired::sm_B()->B2) && wired::main_window()->installButton->isEnabled(); }))
        return 2;
    QTest::mouseClick(wired::main_window()->installButton, Qt::LeftButton);
    if (!wait([&path] { return in(wired::sm_B()->B6) && has_ended_row(path); }))
        return 3;
    std::puts("committed");
    fake.set_download_seconds(5);
    fake.set_otp(FakeDfuUtil::otp_image({3}), second_serial);
    fake.set_flash(FakeDfuUtil::flash_image({3}, "B7"), second_serial);
    fake.set_units({second_serial});
    if (!wait([] { return in(wired::sm_B()->B2) && wired::sm_B()->device_info.serial == second_serial; }))
        return 4;
    QTest::mouseClick(wired::main_window()->installButton, Qt::LeftButton);
    if (!wait([&path] {
            const std::vector<History::UpgradeRow> rows = rows_of(path);
            return wired::sm_A()->transfer_report().running == SM_A::Transfer::download && !rows.empty() &&
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
