#include "history/recorder.h"

#include "history/csv.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QTimer>

namespace History {

namespace {
// A record that was busy is tried again soon, one that stays away less and less often.
constexpr int first_retry_ms = 250;
constexpr int longest_retry_ms = 4000;
} // namespace

void register_record_types() {
    qRegisterMetaType<UpgradeRow>();
    qRegisterMetaType<UnitFacts>();
    qRegisterMetaType<OutcomeCounts>();
    qRegisterMetaType<RecorderState>();
    qRegisterMetaType<RowQuery>();
    qRegisterMetaType<RowPage>();
}

Recorder::Recorder(QString path_, QString host_) : path(std::move(path_)), host(std::move(host_)) {}

Recorder::~Recorder() = default;

void Recorder::start() {
    store = std::make_unique<Store>(path);
    retry = new QTimer(this);
    retry->setSingleShot(true);
    connect(retry, &QTimer::timeout, this, &Recorder::pump);
    qInfo().noquote() << "History: the record is" << path;
    pump();
}

// The record open, and what an ended program left in progress marked, before any row of ours.
bool Recorder::ready() {
    if (!store)
        return false; // not started yet: start() pumps
    if (!store->is_open()) {
        QString moved;
        const Trouble trouble = store->open(&moved);
        if (!moved.isEmpty()) {
            qWarning().noquote() << "History: the record was not a usable database; moved aside to"
                                 << moved;
            moved_aside_to = moved;
        }
        take(trouble);
        if (trouble)
            return false;
    }
    // Every row of this host still in progress is taken for one that an ended program left:
    // right only because one program at a time writes this record. The lock of a user and a
    // mode (SingleInstance, held by the window and orvanta-upgrade alike) keeps a second
    // program out, and every unit's upgrade of this program shares this one recorder; the
    // readers (history, the history window) never recover. The test of orvanta-upgrade holds
    // a second program off while the first has rows in progress.
    if (!recovered) {
        int interrupted = 0;
        const Trouble trouble = store->interrupt_unfinished(host, &interrupted);
        take(trouble);
        if (trouble)
            return false;
        recovered = true;
        if (interrupted > 0)
            qWarning().noquote() << "History:" << interrupted
                                 << "upgrade(s) left in progress by an ended program: interrupted";
    }
    return true;
}

// A change of trouble is logged once, not at every try.
void Recorder::take(const Trouble& trouble) {
    if (trouble && trouble.why != last_trouble.why)
        qWarning().noquote() << "History: cannot write" << path << ":" << trouble.why;
    last_trouble = trouble;
}

bool Recorder::write_head() {
    QString moved;
    const Trouble trouble = store->put(queue.front(), &moved);
    if (!moved.isEmpty())
        moved_aside_to = moved;
    take(trouble);
    if (trouble)
        return false;
    const UpgradeRow row = queue.front();
    queue.pop_front();
    qInfo().noquote() << "History: recorded" << row.outcome << "of" << row.serial;
    emit row_written(row);
    // A finished row for the shipper, unless a batch is out: its marks bring the next one.
    // Decided when the call comes, as a batch may have gone out meanwhile.
    if (row.outcome != outcome_name(Outcome::in_progress) && shipping)
        QMetaObject::invokeMethod(
            this, [this] {
                if (!batch_out)
                    offer_rows();
            },
            Qt::QueuedConnection);
    return true;
}

// Writes the queue in order; the first row that cannot be written holds the rest back.
bool Recorder::pump() {
    bool written = ready();
    while (written && !queue.empty())
        written = write_head();
    written = written && write_marks();
    if (written && offer_due) {
        offer_due = false;
        QMetaObject::invokeMethod(this, &Recorder::offer_rows, Qt::QueuedConnection);
    }
    if (written) {
        retry_ms = 0;
    } else {
        retry_later();
    }
    publish();
    return written;
}

void Recorder::retry_later() {
    retry_ms = retry_ms == 0 ? first_retry_ms : std::min(2 * retry_ms, longest_retry_ms);
    if (retry)
        retry->start(retry_ms);
}

void Recorder::publish() {
    RecorderState state;
    state.moved_aside_to = moved_aside_to;
    state.waiting = int(queue.size());
    state.why = last_trouble.why;
    if (last_trouble.kind == Trouble::Kind::newer)
        state.kind = RecorderState::Kind::newer;
    else if (last_trouble)
        state.kind = RecorderState::Kind::waiting;
    else
        state.kind = RecorderState::Kind::kept;
    if (state == published)
        return;
    published = state;
    emit state_changed(state);
}

// A later version of a row still queued takes its place: one write, in the first one's turn.
void Recorder::put(const UpgradeRow& row) {
    auto same = std::find_if(queue.begin(), queue.end(),
                             [&row](const UpgradeRow& r) { return r.uuid == row.uuid; });
    if (same != queue.end())
        *same = row;
    else
        queue.push_back(row);
    if (!retry || !retry->isActive())
        pump();
    else
        publish();
}

} // namespace History
