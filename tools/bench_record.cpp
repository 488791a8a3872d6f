// The upgrade record's figures (modes of orvanta_bench, run in a QApplication):
//
//   record_write    rows handed to a RecorderThread and written into a new record: rows per
//                   second, and the GUI thread's longest stall meanwhile
//   record_filter   the history window opened on a record of 120 000 rows, filtered and
//                   scrolled: the time to its first page, and the GUI thread's longest stall
//
// A stall is the largest gap between the ticks of a 1 ms timer on the GUI thread, less the
// 1 ms asked for: what the technician would feel as a frozen window. record_write prints first
// the stall of the same loop with nothing to do (record_idle_stall_ms): the machine's own noise.

#include "tools/bench.h"

#include "gui/history_model.h"
#include "gui/history_window.h"
#include "history/columns.h"
#include "history/recorder.h"
#include "history/shipper.h"
#include "gui/gui_settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <functional>

namespace Bench {

namespace {

constexpr int written_rows = 1000;
constexpr int filled_rows = 120000;
const QString typed_filter = QStringLiteral("S01"); // 10 000 of the filled rows, 50 pages
constexpr int scrolls = 5;
constexpr int keystroke_ms = 80; // between the filter's keys, as a quick typist
constexpr int baseline_ms = 500;  // of the meter with nothing to do

// The largest gap between the ticks of a 1 ms timer on the GUI thread, less that 1 ms.
class StallMeter : public QObject {
public:
    StallMeter() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        connect(&timer, &QTimer::timeout, this, &StallMeter::tick);
    }
    void start() {
        clock.start();
        last_ns = 0;
        longest_ns = 0;
        timer.start();
    }
    // The gap up to now counts too.
    double stop_ms() {
        tick();
        timer.stop();
        return std::max(0.0, double(longest_ns) / 1e6 - 1.0);
    }

private:
    void tick() {
        const qint64 now = clock.nsecsElapsed();
        longest_ns = std::max(longest_ns, now - last_ns);
        last_ns = now;
    }
    QTimer timer;
    QElapsedTimer clock;
    qint64 last_ns = 0;
    qint64 longest_ns = 0;
};

// Runs the GUI thread's event loop until `done` holds; false after the bound.
bool run_until(const std::function<bool()>& done, int bound = bound_ms) {
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    check.setInterval(1);
    bool held = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        held = done();
        if (held || clock.hasExpired(bound))
            loop.quit();
    });
    check.start();
    loop.exec();
    return held;
}

void run_for(int ms) {
    QElapsedTimer clock;
    clock.start();
    run_until([&] { return clock.hasExpired(ms); });
}

bool fail(const char* why) {
    std::fprintf(stderr, "orvanta_bench: %s\n", why);
    return false;
}

// A row as an upgrade writes it, with its own uuid; the serial is "S" and six digits of n.
History::UpgradeRow sample_row(int n) {
    static const QDateTime first = QDateTime::currentDateTimeUtc().addDays(-365);
    History::UpgradeRow row;
    row.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    row.started_at = first.addSecs(qint64(n) * 60);
    row.ended_at = row.started_at.addSecs(45);
    row.serial = QString::asprintf("S%06d", n);
    row.product = QStringLiteral("Lumo-7");
    row.revision_before = QStringLiteral("B6");
    row.revision_after = QStringLiteral("B7");
    row.firmware_sha256 = QString(64, QLatin1Char('a'));
    row.outcome = History::outcome_name(History::Outcome::upgraded);
    row.phase = History::phase_name(History::Phase::read_back);
    row.download_ms = 21000;
    row.readback_ms = 9000;
    row.tool_version = QStringLiteral("bench");
    row.host = QStringLiteral("bench-host");
    row.user = QStringLiteral("bench");
    return row;
}

// The recorder's thread with its record opened, its state followed.
struct OpenRecorder {
    explicit OpenRecorder(const QString& path) : thread(path, QSysInfo::machineHostName()) {
        QObject::connect(thread.recorder(), &History::Recorder::state_changed, &receiver,
                         [this](const History::RecorderState& s) { state = s.kind; });
    }
    bool start() {
        thread.start();
        return run_until([this] { return state == History::RecorderState::Kind::kept; }) ||
               fail("the record was not opened");
    }
    QObject receiver; // in the GUI thread: the recorder's answers are queued to it
    History::RecorderThread thread;
    History::RecorderState::Kind state = History::RecorderState::Kind::opening;
};

} // namespace

namespace {

// Hands the rows to the recorder one per turn of the GUI thread's event loop, as the program
// hands over its rows between other events: a burst of a thousand calls in one turn would be
// the benchmark's own stall, not the record's.
class RowFeeder : public QObject {
public:
    RowFeeder(History::Recorder* to, std::vector<History::UpgradeRow> all)
        : recorder(to), rows(std::move(all)) {
        turn.setInterval(0);
        connect(&turn, &QTimer::timeout, this, &RowFeeder::hand_over_next);
    }
    void start() { turn.start(); }

private:
    void hand_over_next() {
        // To the recorder's thread, as a copy.
        QMetaObject::invokeMethod(recorder, "put", Qt::QueuedConnection,
                                  Q_ARG(History::UpgradeRow, rows[next]));
        if (++next == rows.size())
            turn.stop();
    }
    History::Recorder* recorder;
    const std::vector<History::UpgradeRow> rows;
    std::size_t next = 0;
    QTimer turn;
};

} // namespace

// Rows per second from the first row handed over to the last one written, and the stall.
int record_write() {
    History::register_record_types();
    QTemporaryDir dir;
    OpenRecorder record(dir.filePath(QStringLiteral("history.sqlite")));
    int written = 0;
    QObject::connect(record.thread.recorder(), &History::Recorder::row_written, &record.receiver,
                     [&written] { ++written; });
    if (!record.start())
        return 1;
    std::vector<History::UpgradeRow> rows;
    for (int n = 0; n < written_rows; ++n)
        rows.push_back(sample_row(n));
    RowFeeder feeder(record.thread.recorder(), std::move(rows));
    StallMeter meter;
    meter.start(); // first with nothing to do: the machine's own noise
    run_for(baseline_ms);
    print(QStringLiteral("record_idle_stall_ms"), meter.stop_ms(), "ms");
    meter.start();
    QElapsedTimer clock;
    clock.start();
    feeder.start();
    if (!run_until([&written] { return written == written_rows; }))
        return fail("the rows were not all written"), 1;
    const qint64 elapsed_ms = std::max<qint64>(1, clock.elapsed());
    const double stall_ms = meter.stop_ms();
    print(QStringLiteral("record_rows_per_s"), qRound(1000.0 * written_rows / elapsed_ms), "rows/s");
    print(QStringLiteral("record_write_stall_ms"), stall_ms, "ms");
    return 0;
}

namespace {

bool insert_rows(QSqlDatabase db, int count) {
    const QString names = History::column_list({QStringLiteral("id")});
    QStringList marks;
    for (int i = 0; i < names.count(QLatin1Char(',')) + 1; ++i)
        marks << QStringLiteral("?");
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO upgrades (%1) VALUES (%2)")
                       .arg(names, marks.join(QLatin1Char(',')))))
        return false;
    for (int n = 0; n < count; ++n) {
        const History::UpgradeRow row = sample_row(n);
        int i = 0;
        for (const History::Column& c : History::columns())
            if (QLatin1String(c.name) != QLatin1String("id"))
                q.bindValue(i++, c.get(row));
        if (!q.exec())
            return false;
    }
    return true;
}

// A record of `count` rows: the table made as the program makes it, the rows inserted in one
// transaction (the program's one transaction per row would take minutes).
bool make_record(const QString& path, int count) {
    {
        History::Store store(path);
        QString moved;
        if (store.open(&moved))
            return fail("the record could not be made");
    }
    const QString connection = QStringLiteral("bench-fill");
    bool filled = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        filled = db.open() && db.transaction() && insert_rows(db, count) && db.commit();
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return filled || fail("the record could not be filled");
}

// The time from `clock`'s start to the first paint of the table with rows in it.
class FirstRowsPainted : public QObject {
public:
    FirstRowsPainted(const HistoryWindow& watched, const QElapsedTimer& since)
        : window(watched), clock(since) {
        window.table()->viewport()->installEventFilter(this);
    }
    qint64 ms = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (ms < 0 && event->type() == QEvent::Paint && window.model()->rowCount() > 0)
            ms = clock.elapsed();
        return QObject::eventFilter(watched, event);
    }

private:
    const HistoryWindow& window;
    const QElapsedTimer& clock;
};

// Each key pressed and released, with a typist's pause after it.
void type(QLineEdit* field, const QString& text) {
    for (const QChar c : text) {
        const int key = c.toUpper().unicode(); // Qt's keys for letters and digits
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
        QApplication::sendEvent(field, &release);
        run_for(keystroke_ms);
    }
}

QString serial_at(const HistoryWindow& window, int row) {
    return window.model()->index(row, 1).data().toString();
}

// Types the filter, waits for its rows, then scrolls to the bottom and waits for the next
// page a few times.
bool filter_and_scroll(HistoryWindow& window) {
    type(window.filter(), typed_filter);
    if (!run_until([&] { return serial_at(window, 0).startsWith(typed_filter); }))
        return fail("the filtered rows never came");
    for (int i = 0; i < scrolls; ++i) {
        const int loaded = window.model()->rowCount();
        window.table()->scrollToBottom();
        if (!run_until([&] { return window.model()->rowCount() > loaded; }))
            return fail("scrolling to the bottom fetched no more rows");
    }
    return serial_at(window, window.model()->rowCount() - 1).startsWith(typed_filter) ||
           fail("rows that do not pass the filter were shown");
}

} // namespace

// The window wired to the recorder as the program wires it: both ways queued.
int record_filter() {
    History::register_record_types();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    if (!make_record(path, filled_rows))
        return 1;
    OpenRecorder record(path);
    const Settings::GUI texts = Settings::shipped_GUI();
    HistoryWindow window(texts, false);
    History::Recorder* recorder = record.thread.recorder();
    QObject::connect(&window, &HistoryWindow::rows_wanted, recorder,
                     &History::Recorder::ask_rows, Qt::QueuedConnection);
    QObject::connect(recorder, &History::Recorder::rows_ready, &window, &HistoryWindow::take_rows,
                     Qt::QueuedConnection);
    if (!record.start())
        return 1;
    StallMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    const FirstRowsPainted painted(window, clock);
    window.toggle_visibility(nullptr);
    if (!run_until([&painted] { return painted.ms >= 0; }))
        return fail("the first page was never shown"), 1;
    if (!filter_and_scroll(window))
        return 1;
    const double stall_ms = meter.stop_ms();
    print(QStringLiteral("record_window_open_ms"), double(painted.ms), "ms");
    print(QStringLiteral("record_filter_stall_ms"), stall_ms, "ms");
    return 0;
}

namespace {
constexpr int backlog_rows = 10000;
} // namespace

// A backlog shipped to the central record over loopback (ORVANTA_PG_BENCH_A, from
// tools/pg_test_server.sh): rows per second from the shipper's start until the server has them
// all, and the GUI thread's longest stall meanwhile.
int central_ship() {
    History::register_record_types();
    History::register_central_types();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    if (!make_record(path, backlog_rows))
        return 1;
    OpenRecorder record(path);
    if (!record.start())
        return 1;
    std::unique_ptr<History::ShipperThread> shipper =
        History::make_shipper(qEnvironmentVariable("ORVANTA_PG_BENCH_A"));
    if (!shipper)
        return fail("no central record: run under tools/pg_test_server.sh"), 1;
    History::CentralState state;
    QObject::connect(shipper->shipper(), &History::Shipper::state_changed, &record.receiver,
                     [&state](const History::CentralState& s) { state = s; });
    StallMeter meter;
    meter.start();
    QElapsedTimer clock;
    clock.start();
    shipper->start(record.thread.recorder());
    if (!run_until([&state] { return state.kind == History::CentralState::Kind::up_to_date; }))
        return fail("the backlog was not shipped"), 1;
    const qint64 elapsed_ms = std::max<qint64>(1, clock.elapsed());
    print(QStringLiteral("central_rows_per_s"), qRound(1000.0 * backlog_rows / elapsed_ms), "rows/s");
    print(QStringLiteral("central_ship_stall_ms"), meter.stop_ms(), "ms");
    shipper->finish_within(History::shipper_exit_wait_ms);
    return 0;
}

} // namespace Bench
