// The recorder's answers: to the hint line, the history window and its export, and its end.

#include "history/csv.h"
#include "history/recorder.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace History {

namespace {

constexpr int finish_pause_ms = 100; // between tries at the end

// Damage that a read finds is moved aside like damage that a write finds; the read is then
// answered from the new, empty record.
template <typename Read>
auto read_or_recover(Store& store, QString* moved_aside_to, Read read) {
    Trouble trouble;
    auto answer = read(&trouble);
    if (trouble.kind == Trouble::Kind::damaged && !store.move_aside(moved_aside_to))
        answer = read(&trouble);
    return answer;
}

} // namespace

void Recorder::ask_unit(const QString& serial) {
    UnitFacts facts;
    if (ready())
        facts = read_or_recover(*store, &moved_aside_to,
                                [&](Trouble* t) { return store->facts(serial, t); });
    publish();
    emit unit_known(serial, facts);
}

void Recorder::ask_outcome_counts() {
    OutcomeCounts counts;
    if (ready())
        counts = read_or_recover(*store, &moved_aside_to,
                                 [&](Trouble* t) { return store->outcome_counts(t); });
    publish();
    emit outcome_counts(counts);
}

void Recorder::ask_rows(const RowQuery& query) {
    RowPage page;
    page.request = query.request;
    page.offset = query.offset;
    if (ready())
        page = read_or_recover(*store, &moved_aside_to,
                               [&](Trouble* t) { return store->page(query, t); });
    page.why = last_trouble.why;
    publish();
    emit rows_ready(page);
}

void Recorder::export_csv(const QString& file, const QString& serial_filter) {
    QString why = last_trouble.why;
    if (ready()) {
        Trouble trouble;
        const std::vector<UpgradeRow> rows = store->rows(serial_filter, &trouble);
        why = trouble.why;
        if (!trouble)
            write_csv(file, rows, &why);
    }
    emit exported(file, why);
}

// Nothing vanishes without a word: a row the record could not take is logged whole, with the
// column names, and the log goes to standard error.
void Recorder::finish(int bound_ms) {
    QElapsedTimer waited;
    waited.start();
    if (retry)
        retry->stop();
    while (store && (!queue.empty() || !marks.isEmpty()) && !pump() && waited.elapsed() < bound_ms) {
        retry->stop();
        QThread::msleep(finish_pause_ms);
    }
    if (retry)
        retry->stop();
    const QStringList names = column_names();
    for (const UpgradeRow& row : queue) {
        const QStringList values = column_values(row);
        QStringList pairs;
        for (int i = 0; i < names.size(); ++i)
            pairs << names[i] + QLatin1Char('=') + csv_field(values[i]);
        qWarning().noquote() << "History: not written to" << path << "(" + last_trouble.why + "):"
                             << pairs.join(QLatin1Char(' '));
    }
    queue.clear();
    store.reset(); // its connection closes in the thread that made it
}

RecorderThread::RecorderThread(const QString& path, const QString& host)
    : recorder_(new Recorder(path, host)) {
    register_record_types();
    thread.setObjectName(QStringLiteral("recorder"));
    recorder_->moveToThread(&thread);
    thread.start();
}

void RecorderThread::start() {
    // Start-up never waits for the record: it is opened in the recorder's thread.
    QMetaObject::invokeMethod(recorder_, &Recorder::start, Qt::QueuedConnection);
}

RecorderThread::~RecorderThread() {
    finish_within(0);
}

void RecorderThread::finish_within(int bound_ms) {
    if (!thread.isRunning())
        return;
    // Crosses to the recorder's thread and waits for it: only here, at the end of the program.
    QMetaObject::invokeMethod(
        recorder_, [this, bound_ms] { recorder_->finish(bound_ms); },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete recorder_; // its thread has ended; nothing more is delivered to it
    recorder_ = nullptr;
}

} // namespace History
