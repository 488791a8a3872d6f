#pragma once
// The recorder: the one object that owns the record's database connection, in a thread of its
// own. The window and the workflow hand it rows and questions by queued calls and get answers
// by its signals, queued back to them; nothing waits for it but the end of the program. A row
// that cannot be written now (another program holds the record, the disk is full, the
// directory is read-only) stays queued, in order, and is tried again until it is written.

#include "history/row_page.h"
#include "history/store.h"

#include <QObject>
#include <QThread>

#include <deque>
#include <memory>

class QTimer;

namespace History {

// What the window says of the record.
struct RecorderState {
    enum class Kind {
        opening, // not yet tried
        kept,    // every row handed over is written
        waiting, // `waiting` rows wait to be written, for `why`
        newer,   // the record belongs to a newer version of the program: not written into
    };
    Kind kind = Kind::opening;
    int waiting = 0;
    QString why;
    QString moved_aside_to; // a damaged record was moved here (said once)
    bool operator==(const RecorderState& o) const {
        return kind == o.kind && waiting == o.waiting && why == o.why &&
               moved_aside_to == o.moved_aside_to;
    }
};

class Recorder : public QObject {
    Q_OBJECT
public:
    // `host`: the rows of this machine left in progress by an ended program are interrupted.
    Recorder(QString path, QString host);
    ~Recorder() override;

public slots:
    // Every slot runs in the recorder's thread, called by a queued call with copies.
    void start(); // opens the record and marks what an ended program left in progress
    void put(const History::UpgradeRow& row);
    void ask_unit(const QString& serial);
    void ask_outcome_counts();
    void ask_rows(const History::RowQuery& query);
    void export_csv(const QString& path, const QString& serial_filter);
    // The outbox: the next batch of finished rows not yet shipped, as rows_to_ship; and the
    // marks of rows the central record has taken.
    void offer_rows();
    void mark_shipped(const QStringList& uuids);
    // Tries the queue for at most bound_ms; a row still unwritten is then written whole to the
    // log (and so to standard error). The last call before the thread ends.
    void finish(int bound_ms);

signals:
    // Each emitted in the recorder's thread, queued to the receivers.
    void state_changed(const History::RecorderState& state);
    void row_written(const History::UpgradeRow& row);
    void unit_known(const QString& serial, const History::UnitFacts& facts);
    void outcome_counts(const History::OutcomeCounts& counts);
    void rows_ready(const History::RowPage& page);
    void exported(const QString& path, const QString& why);
    // A batch for the shipper, oldest first, and how many rows wait in all (this batch too).
    void rows_to_ship(const std::vector<History::UpgradeRow>& batch, int waiting);

private:
    bool pump();
    bool write_head();
    bool ready();
    void take(const Trouble& trouble);
    void publish();
    void retry_later();
    bool write_marks();

    const QString path;
    const QString host;
    std::unique_ptr<Store> store; // made in the recorder's thread, where it is used
    std::deque<UpgradeRow> queue;
    bool recovered = false; // rows left in progress by an ended program are interrupted
    Trouble last_trouble;
    RecorderState published;
    QString moved_aside_to;
    QTimer* retry = nullptr;
    int retry_ms = 0;
    // The outbox, once a shipper has asked: a batch is out until its marks (or a new request)
    // come back, so that no row is offered twice at the same time.
    bool shipping = false;
    bool batch_out = false;
    bool offer_due = false; // an offer the record could not make yet: made at the next pump
    QStringList marks; // shipped, not yet marked (the record was busy)
};

// The recorder and its thread: the thread runs from the start; the recorder opens the record
// once start() is called, after its answers have been connected. Ended by finish_within().
class RecorderThread {
public:
    RecorderThread(const QString& path, const QString& host);
    ~RecorderThread();
    RecorderThread(const RecorderThread&) = delete;
    RecorderThread& operator=(const RecorderThread&) = delete;

    Recorder* recorder() const { return recorder_; }
    void start();
    // Waits at most about bound_ms for the queue, then ends the thread. For the end of the
    // program, after the last row has been handed over.
    void finish_within(int bound_ms);

private:
    QThread thread;
    Recorder* recorder_;
};

void register_record_types();

} // namespace History

Q_DECLARE_METATYPE(History::UpgradeRow)
Q_DECLARE_METATYPE(History::UnitFacts)
Q_DECLARE_METATYPE(History::OutcomeCounts)
Q_DECLARE_METATYPE(History::RecorderState)
