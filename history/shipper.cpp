#include "history/shipper.h"

#include "history/central_connection.h"
#include "history/central_words.h"
#include "history/recorder.h"
#include "history/statement_watchdog.h"

#include <QDebug>
#include <QTimer>

namespace History {

namespace {
// A server away is tried again soon, then less and less often.
constexpr int first_retry_ms = 1000;
constexpr int longest_retry_ms = 30000;
constexpr int default_finish_ms = 5000;

// The log's words are the window's; only a build without its embedded settings has none.
Settings::Texts log_texts() {
    try {
        return Settings::shipped_texts();
    } catch (const QString& error) {
        qWarning().noquote() << error;
        return Settings::Texts();
    }
}
} // namespace

void register_central_types() {
    qRegisterMetaType<UpgradeRows>();
    qRegisterMetaType<CentralState>();
    qRegisterMetaType<std::optional<FleetUpgrade>>();
}

Shipper::Shipper(QString connection_, int statement_bound_ms_)
    : connection(std::move(connection_)), statement_bound_ms(statement_bound_ms_) {}

Shipper::~Shipper() = default;

void Shipper::start() {
    texts = log_texts();
    watchdog = std::make_unique<StatementWatchdog>(std::chrono::milliseconds(statement_bound_ms));
    record = std::make_unique<CentralRecord>(connection, watchdog.get());
    retry = new QTimer(this);
    retry->setSingleShot(true);
    connect(retry, &QTimer::timeout, this, &Shipper::want_rows);
    publish();
    connected(); // the indicator tells a refusal before the first row is due
    emit want_rows();
}

// Opens the connection when it is not open, unless a retry is pending: a server that did not
// answer is not asked again (nor waited for) before its pause is over.
bool Shipper::connected() {
    if (!record)
        return false;
    asked_at = QDateTime::currentDateTime(); // a statement follows
    if (record->is_open())
        return true;
    if (retry && retry->isActive())
        return false;
    const CentralTrouble trouble = record->open();
    take_trouble(trouble);
    return !trouble;
}

void Shipper::take_trouble(const CentralTrouble& trouble) {
    using Kind = CentralTrouble::Kind;
    if (!trouble)
        return take_answer();
    // A server that stopped answering and is then not reached at all is still not answering.
    if (trouble.kind == Kind::not_answering ||
        (trouble.kind == Kind::not_reached && state.kind == CentralState::Kind::not_answering))
        return take_silence();
    if (trouble.why != last_why)
        qWarning().noquote() << "Central record:" << trouble.why;
    last_why = trouble.why;
    state.why = trouble.why;
    // A statement the server turned down is its refusal too, in its own words.
    const bool refused = trouble.kind == Kind::refused || trouble.kind == Kind::rejected;
    state.kind = refused                                ? CentralState::Kind::refused
                 : trouble.kind == Kind::unknown_schema ? CentralState::Kind::unknown_schema
                                                        : CentralState::Kind::not_reached;
    retry_later();
}

void Shipper::take_answer() {
    retry_ms = 0;
    state.reached_at = QDateTime::currentDateTime();
    state.silent_since = QDateTime();
    state.why.clear();
    state.kind = state.waiting > 0 ? CentralState::Kind::shipping : CentralState::Kind::up_to_date;
    last_why.clear();
}

// Since the first statement that got no answer; the connection is already dropped, and a new
// one is made after the usual pause. The words are also what a page of the fleet's rows says.
void Shipper::take_silence() {
    if (state.kind != CentralState::Kind::not_answering)
        state.silent_since = asked_at;
    state.kind = CentralState::Kind::not_answering;
    state.why = central_words(state, texts);
    last_why = state.why;
    retry_later();
}

void Shipper::retry_later() {
    retry_ms = retry_ms == 0 ? first_retry_ms : std::min(2 * retry_ms, longest_retry_ms);
    if (retry)
        retry->start(retry_ms);
}

// A server that stops answering, and its answers again, are said in the log too.
void Shipper::publish() {
    if (state == published)
        return;
    using Kind = CentralState::Kind;
    if (state.kind == Kind::not_answering && published.kind != Kind::not_answering)
        qWarning().noquote() << central_words(state, texts);
    else if (state.kind != Kind::not_answering && published.kind == Kind::not_answering)
        qInfo().noquote() << central_words(state, texts);
    published = state;
    emit state_changed(state);
}

// An empty batch says that nothing waits. After a failure the rows stay unmarked in the
// record, and the recorder offers them again when the pause is over.
void Shipper::take(const UpgradeRows& batch, int waiting) {
    state.waiting = waiting;
    if (batch.empty()) {
        if (state.kind == CentralState::Kind::shipping)
            state.kind = CentralState::Kind::up_to_date;
        publish();
        return;
    }
    if (connected()) {
        const CentralTrouble trouble = record->ship(batch);
        take_trouble(trouble);
        if (!trouble) {
            QStringList uuids;
            for (const UpgradeRow& row : batch)
                uuids << row.uuid;
            state.waiting = waiting - int(batch.size());
            if (state.waiting == 0)
                state.kind = CentralState::Kind::up_to_date;
            emit shipped(uuids);
        }
    }
    publish();
}

void Shipper::ask_unit(const QString& serial) {
    std::optional<FleetUpgrade> found;
    CentralTrouble trouble;
    if (connected()) {
        found = record->newest_upgrade(serial, &trouble);
        take_trouble(trouble);
    }
    publish();
    emit unit_known(serial, found);
}

void Shipper::ask_rows(const RowQuery& query) {
    RowPage page;
    page.request = query.request;
    CentralTrouble trouble;
    if (connected()) {
        page = record->page(query, &trouble);
        take_trouble(trouble);
    }
    page.why = state.why;
    publish();
    emit rows_ready(page);
}

void Shipper::finish() {
    if (retry)
        retry->stop();
    record.reset(); // closed in the thread that opened it
    watchdog.reset();
}

ShipperThread::ShipperThread(const QString& connection, int statement_bound_ms)
    : thread(std::make_unique<QThread>()), shipper_(new Shipper(connection, statement_bound_ms)) {
    register_central_types();
    thread->setObjectName(QStringLiteral("shipper"));
    shipper_->moveToThread(thread.get());
    thread->start();
}

ShipperThread::~ShipperThread() {
    finish_within(default_finish_ms);
}

void ShipperThread::start(Recorder* recorder) {
    // Between the two threads, both ways queued: batches to the shipper, marks to the recorder.
    QObject::connect(recorder, &Recorder::rows_to_ship, shipper_, &Shipper::take, Qt::QueuedConnection);
    QObject::connect(shipper_, &Shipper::shipped, recorder, &Recorder::mark_shipped, Qt::QueuedConnection);
    QObject::connect(shipper_, &Shipper::want_rows, recorder, &Recorder::offer_rows, Qt::QueuedConnection);
    QMetaObject::invokeMethod(shipper_, &Shipper::start, Qt::QueuedConnection);
}

// A shipper that is still waiting on the network at the end is left to the end of the
// process, with its thread: deleting either under it would crash.
void ShipperThread::finish_within(int bound_ms) {
    if (!thread)
        return;
    // To the shipper's thread, queued: it closes the connection once its call has returned,
    // and ends its thread's loop itself, after every call queued before this one.
    Shipper* shipper = shipper_;
    QMetaObject::invokeMethod(
        shipper_, [shipper] {
            shipper->finish();
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    if (thread->wait(static_cast<unsigned long>(std::max(bound_ms, 0)))) {
        delete shipper_;
        thread.reset();
    } else {
        qWarning().noquote() << "Central record: the server did not answer before the end; the "
                                "rows not shipped are shipped at the next start";
        (void)thread.release();
    }
    shipper_ = nullptr;
}

std::unique_ptr<ShipperThread> make_shipper(const QString& connection) {
    const ParsedConnection parsed = parse_connection(connection);
    if (!parsed.valid) {
        qWarning().noquote() << "Central record: the connection setting is not libpq's "
                                "key=value words; nothing is shipped";
        return nullptr;
    }
    qInfo().noquote() << "Central record:" << shown_connection(parsed);
    return std::make_unique<ShipperThread>(bounded_connection(parsed));
}

} // namespace History
