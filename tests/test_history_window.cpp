// The history window against a fake recorder that answers from rows in memory, by queued calls
// as the recorder does from its thread: what the window asks for, and when, and what it shows.

#include "gui/history_model.h"
#include "gui/history_window.h"
#include "gui/gui_settings.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <algorithm>

namespace {

constexpr int page = HistoryModel::page_size;
constexpr int settle_ms = 600; // longer than the typing pause: nothing more may be asked after it

// Serials "SN0000" ... ; every 20th also says "abc" (250 rows), every 25th "xyz" (200 rows).
History::UpgradeRow generated_row(int id) {
    History::UpgradeRow row;
    row.id = id;
    row.serial = QStringLiteral("SN%1").arg(id, 4, 10, QLatin1Char('0'));
    if (id % 20 == 0)
        row.serial += QStringLiteral("abc");
    if (id % 25 == 0)
        row.serial += QStringLiteral("XYZ");
    row.started_at = QDateTime::fromSecsSinceEpoch(1'800'000'000 + id, Qt::UTC);
    row.ended_at = row.started_at.addSecs(30);
    row.outcome = QStringLiteral("upgraded");
    return row;
}

int matching(const QString& filter) {
    return filter == "abc" ? 250 : filter == "xyz" ? 200 : filter.isEmpty() ? 5000 : 0;
}

// The recorder as the window sees it: asked by a queued call, answering by a queued signal. Its
// answers can be held back and sent later, in any order.
class FakeRecorder : public QObject {
    Q_OBJECT
public:
    explicit FakeRecorder(HistoryWindow* window) {
        for (int id = 5000; id >= 1; --id) // newest first
            rows.push_back(generated_row(id));
        connect(window, &HistoryWindow::rows_wanted, this, &FakeRecorder::take_query,
                Qt::QueuedConnection);
        connect(this, &FakeRecorder::answered, window, &HistoryWindow::take_rows,
                Qt::QueuedConnection);
    }

    void add_newest(int count) {
        const qint64 newest = rows.front().id;
        for (int i = 1; i <= count; ++i)
            rows.insert(rows.begin(), generated_row(int(newest) + i));
    }
    void release(int held_index) { emit answered(answer(held.at(size_t(held_index)))); }

    std::vector<History::UpgradeRow> rows;
    std::vector<History::RowQuery> asked;
    std::vector<History::RowQuery> held;
    bool holding = false;

signals:
    void answered(const History::RowPage& page);

private:
    void take_query(const History::RowQuery& query) {
        asked.push_back(query);
        if (holding)
            held.push_back(query);
        else
            emit answered(answer(query));
    }

    History::RowPage answer(const History::RowQuery& query) const {
        History::RowPage result{query.request, query.offset, 0, {}, {}};
        for (const History::UpgradeRow& row : rows) {
            if (!row.serial.contains(query.serial_filter, Qt::CaseInsensitive))
                continue;
            if (result.total >= query.offset && result.total < query.offset + query.count)
                result.rows.push_back(row);
            ++result.total;
        }
        return result;
    }
};

QString cell(const HistoryWindow& window, int row, int column) {
    return window.model()->index(row, column).data().toString();
}

// The serial of the row at the top of the table's view.
QString serial_at_top(const HistoryWindow& window) {
    return cell(window, window.table()->rowAt(0), 1);
}

} // namespace

class TestHistoryWindow : public QObject {
    Q_OBJECT

    Settings::GUI texts = Settings::make_GUI(QStringLiteral(":resources/settings_GUI.json"));

    QString text(const char* id) const { return texts.text(QLatin1String(id)); }

    // The window opened and its first page shown.
    void open(HistoryWindow& window, FakeRecorder& recorder) {
        window.toggle_visibility(nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_COMPARE(window.model()->rowCount(), std::min(page, matching(window.filter()->text())));
        QCOMPARE(int(recorder.asked.size()), 1);
    }

private slots:
    void the_title_names_the_record_data() {
        QTest::addColumn<bool>("simulator_record");
        QTest::addColumn<QString>("title");
        QTest::newRow("real record") << false << text("history_title");
        QTest::newRow("simulator record") << true << text("history_title_simulator");
    }
    void the_title_names_the_record() {
        QFETCH(bool, simulator_record);
        QFETCH(QString, title);
        const HistoryWindow window(texts, simulator_record);
        QVERIFY(!title.isEmpty());
        QCOMPARE(window.windowTitle(), title);
    }

    void the_cells_show_the_row_data() {
        QTest::addColumn<bool>("in_progress");
        QTest::addColumn<QDateTime>("time_shown");
        const QDateTime started = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
        QTest::newRow("ended") << false << started.addSecs(95);
        QTest::newRow("in progress") << true << started;
    }
    void the_cells_show_the_row() {
        QFETCH(bool, in_progress);
        QFETCH(QDateTime, time_shown);
        HistoryWindow window(texts, false);
        History::UpgradeRow row;
        row.started_at = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
        row.ended_at = in_progress ? QDateTime() : row.started_at.addSecs(95);
        row.serial = "3776367B3036";
        row.port = "1-1.3";
        row.product = "VELK";
        row.revision_before = "B7";
        row.outcome = in_progress ? "in_progress" : "download_failed";
        row.firmware_key_id = "36C87D036941B00D";
        row.cause = "Error during download: a very long text that a narrow column cuts";
        connect(&window, &HistoryWindow::rows_wanted, &window, [&](const History::RowQuery& query) {
            window.take_rows({query.request, 0, 1, {row}, {}});
        });
        window.toggle_visibility(nullptr);
        QCOMPARE(window.model()->rowCount(), 1);
        const QString expected[] = {time_shown.toLocalTime().toString("yyyy-MM-dd HH:mm:ss"),
                                    row.serial,
                                    row.port,
                                    row.product,
                                    text("history_from_to").arg("B7", ""),
                                    row.outcome,
                                    row.firmware_key_id,
                                    row.cause};
        QCOMPARE(window.model()->columnCount(), int(std::size(expected)));
        for (int c = 0; c < int(std::size(expected)); ++c) {
            const QModelIndex index = window.model()->index(0, c);
            QCOMPARE(index.data().toString(), expected[c]);
            QCOMPARE(index.data(Qt::ToolTipRole).toString(), expected[c]);
            QCOMPARE(window.model()->headerData(c, Qt::Horizontal).toString(),
                     text("history_headers").split('|').at(c));
        }
    }

    void nothing_is_asked_while_hidden_and_the_first_page_on_opening() {
        HistoryWindow window(texts, false);
        FakeRecorder recorder(&window);
        window.reload();
        window.set_filter("abc");
        QTest::qWait(settle_ms);
        QVERIFY(recorder.asked.empty());
        open(window, recorder);
        QCOMPARE(recorder.asked[0].serial_filter, QString("abc"));
        QCOMPARE(recorder.asked[0].offset, 0);
        QCOMPARE(recorder.asked[0].count, page);
        QTest::qWait(settle_ms);
        QCOMPARE(int(recorder.asked.size()), 1); // the view wanted no more by itself
        window.toggle_visibility(nullptr);
        QVERIFY(!window.isVisible());
        window.reload();
        QTest::qWait(settle_ms);
        QCOMPARE(int(recorder.asked.size()), 1);
    }

    void scrolling_to_the_bottom_asks_for_the_next_page_data() {
        QTest::addColumn<QString>("filter");
        QTest::newRow("all rows") << "";
        QTest::newRow("a page and a half") << "abc";
        QTest::newRow("exactly a page") << "xyz";
        QTest::newRow("no row") << "nothing";
    }
    void scrolling_to_the_bottom_asks_for_the_next_page() {
        QFETCH(QString, filter);
        HistoryWindow window(texts, false);
        FakeRecorder recorder(&window);
        window.set_filter(filter);
        open(window, recorder);
        const int total = matching(filter);
        for (int pages = 2; (pages - 1) * page < total; ++pages) {
            window.table()->scrollToBottom();
            QTRY_COMPARE(window.model()->rowCount(), std::min(pages * page, total));
            const History::RowQuery& last = recorder.asked.back();
            QCOMPARE(last.offset, (pages - 1) * page);
            QCOMPARE(last.serial_filter, filter);
        }
        const size_t asked = recorder.asked.size();
        QCOMPARE(int(asked), std::max(1, (total + page - 1) / page));
        window.table()->scrollToBottom(); // all loaded: the total says there is no more
        QTest::qWait(settle_ms);
        QCOMPARE(recorder.asked.size(), asked);
        // The last row shown is the oldest that passes the filter.
        const auto oldest =
            std::find_if(recorder.rows.rbegin(), recorder.rows.rend(),
                         [&](auto& r) { return r.serial.contains(filter, Qt::CaseInsensitive); });
        QCOMPARE(cell(window, window.model()->rowCount() - 1, 1),
                 oldest == recorder.rows.rend() ? QString() : oldest->serial);
    }

    void typing_asks_once_after_a_pause_data() {
        QTest::addColumn<bool>("enter");
        QTest::newRow("typed") << false;
        QTest::newRow("typed, then Enter") << true;
    }
    void typing_asks_once_after_a_pause() {
        QFETCH(bool, enter);
        HistoryWindow window(texts, false);
        FakeRecorder recorder(&window);
        open(window, recorder);
        QSignalSpy asks(&window, &HistoryWindow::rows_wanted);
        QTest::keyClicks(window.filter(), "abc");
        if (enter)
            QTest::keyClick(window.filter(), Qt::Key_Return);
        // No event has been handled since the keys: only Enter can have asked.
        QCOMPARE(asks.size(), enter ? 1 : 0);
        QTRY_COMPARE(int(recorder.asked.size()), 2);
        QCOMPARE(recorder.asked[1].serial_filter, QString("abc"));
        QCOMPARE(recorder.asked[1].offset, 0);
        QTRY_COMPARE(window.model()->rowCount(), page);
        QTest::qWait(settle_ms);
        QCOMPARE(int(recorder.asked.size()), 2);
        for (int row = 0; row < window.model()->rowCount(); ++row)
            QVERIFY(cell(window, row, 1).contains("abc"));
    }

    void an_answer_to_an_outdated_request_is_dropped_data() {
        QTest::addColumn<bool>("latest_first");
        QTest::newRow("answered in order") << false;
        QTest::newRow("latest answered first") << true;
    }
    void an_answer_to_an_outdated_request_is_dropped() {
        QFETCH(bool, latest_first);
        HistoryWindow window(texts, false);
        FakeRecorder recorder(&window);
        open(window, recorder);
        recorder.holding = true;
        window.set_filter("abc");
        window.set_filter("xyz");
        QTRY_COMPARE(int(recorder.held.size()), 2);
        recorder.release(latest_first ? 1 : 0);
        QTest::qWait(settle_ms);
        // The outdated answer changed nothing; the latest one shows its rows.
        QCOMPARE(cell(window, 1, 1), QString(latest_first ? "SN4975XYZ" : "SN4999"));
        recorder.release(latest_first ? 0 : 1);
        QTest::qWait(settle_ms);
        QCOMPARE(window.model()->rowCount(), matching("xyz"));
        for (int row = 0; row < window.model()->rowCount(); ++row)
            QVERIFY2(cell(window, row, 1).contains("XYZ"), qPrintable(cell(window, row, 1)));
    }

    void reload_keeps_showing_rows_data() {
        QTest::addColumn<int>("scrolled_to");
        QTest::addColumn<bool>("newest_come_into_view");
        QTest::newRow("at the top") << 0 << true;
        QTest::newRow("scrolled down") << 150 << false;
        QTest::newRow("scrolled into the second page") << 350 << false;
    }
    void reload_keeps_showing_rows() {
        QFETCH(int, scrolled_to);
        QFETCH(bool, newest_come_into_view);
        HistoryWindow window(texts, false);
        FakeRecorder recorder(&window);
        open(window, recorder);
        while (window.model()->rowCount() <= scrolled_to + page / 2) {
            const int loaded = window.model()->rowCount();
            window.table()->scrollToBottom();
            QTRY_VERIFY(window.model()->rowCount() > loaded);
        }
        window.table()->scrollTo(window.model()->index(scrolled_to, 0),
                                 QAbstractItemView::PositionAtTop);
        const QString top_before = serial_at_top(window);
        QCOMPARE(top_before, recorder.rows.at(size_t(scrolled_to)).serial);
        const int loaded = window.model()->rowCount();
        recorder.add_newest(3);
        window.reload();
        QTRY_COMPARE(cell(window, 0, 1), recorder.rows.front().serial);
        QCOMPARE(window.model()->rowCount(), loaded);
        QCOMPARE(serial_at_top(window),
                 newest_come_into_view ? recorder.rows.front().serial : top_before);
        QCOMPARE(recorder.asked.back().offset, 0);
        QCOMPARE(recorder.asked.back().count, loaded);
    }

    void export_asks_with_the_filter_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("still_typing");
        QTest::newRow("no filter") << "" << false;
        QTest::newRow("filter asked for") << "abc" << false;
        QTest::newRow("typing not yet paused") << "xyz" << true;
    }
    void export_asks_with_the_filter() {
        QFETCH(QString, filter);
        QFETCH(bool, still_typing);
        HistoryWindow window(texts, false);
        FakeRecorder recorder(&window);
        open(window, recorder);
        if (still_typing)
            QTest::keyClicks(window.filter(), filter);
        else
            window.set_filter(filter);
        QSignalSpy exports(&window, &HistoryWindow::export_wanted);
        window.export_to("/somewhere/history.csv");
        QCOMPARE(exports.size(), 1);
        QCOMPARE(exports[0][0].toString(), QString("/somewhere/history.csv"));
        QCOMPARE(exports[0][1].toString(), filter);
        // The table shows what is exported.
        QTRY_COMPARE(recorder.asked.back().serial_filter, filter);
        QTRY_COMPARE(window.model()->rowCount(), std::min(page, matching(filter)));
    }

    void the_export_result_is_told_when_it_failed_data() {
        QTest::addColumn<QString>("why");
        QTest::newRow("written") << "";
        QTest::newRow("failed") << "Permission denied";
    }
    void the_export_result_is_told_when_it_failed() {
        QFETCH(QString, why);
        HistoryWindow window(texts, false);
        window.take_export_result("/somewhere/history.csv", why);
        const QList<QMessageBox*> boxes = window.findChildren<QMessageBox*>();
        QCOMPARE(boxes.size(), why.isEmpty() ? 0 : 1);
        if (!why.isEmpty())
            QCOMPARE(boxes[0]->text(),
                     text("history_export_failed").arg("/somewhere/history.csv", why));
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TestHistoryWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_history_window.moc"
