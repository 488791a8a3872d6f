// The recorder's side of the outbox to the central record: batches out, marks in.

#include "history/recorder.h"

#include <QDebug>
#include <QTimer>

namespace History {

namespace {
constexpr int batch_rows = 500; // one statement on the server, one mark transaction here
} // namespace

void Recorder::offer_rows() {
    shipping = true;
    batch_out = false;
    if (!store) { // asked before start(): offered by its first pump
        offer_due = true;
        return;
    }
    Trouble trouble;
    std::vector<UpgradeRow> batch;
    int waiting = 0;
    if (ready() && write_marks()) {
        batch = store->unshipped(batch_rows, &trouble);
        waiting = trouble ? 0 : store->count_unshipped(&trouble);
        take(trouble);
    } else {
        trouble = last_trouble;
    }
    if (trouble) {
        offer_due = true; // the rows stay in the record until it answers again
        retry_later();
        publish();
        return;
    }
    batch_out = !batch.empty();
    emit rows_to_ship(batch, waiting);
}

// The shipped batch is back: its marks, then the next batch.
void Recorder::mark_shipped(const QStringList& uuids) {
    marks << uuids;
    offer_rows();
}

// The marks of rows already on the server; a record that cannot take them now keeps them
// for the next try (and a kill before then only ships those rows once more, to no effect).
bool Recorder::write_marks() {
    if (marks.isEmpty())
        return true;
    const Trouble trouble = store->mark_shipped(marks);
    take(trouble);
    if (trouble)
        return false;
    marks.clear();
    return true;
}

} // namespace History
