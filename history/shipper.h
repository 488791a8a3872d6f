#pragma once
// The shipper: ships the record's finished rows to the central record, and asks it what the
// fleet knows of a unit. It lives in a thread of its own, beside the recorder's, because its
// calls wait on the network (each bounded); the record's own writes never wait behind them.
// The recorder hands it batches and gets the shipped rows' uuids back to mark, by queued calls.

#include "history/central_record.h"
#include "settings/texts.h"

#include <QDateTime>
#include <QObject>
#include <QThread>

#include <memory>

class QTimer;

namespace History {

class Recorder;
class StatementWatchdog;
using UpgradeRows = std::vector<UpgradeRow>;

// What the window's indicator says of the central record.
struct CentralState {
    enum class Kind {
        connecting,     // not yet answered
        up_to_date,     // every finished row is on the server
        shipping,       // connected, `waiting` rows on their way
        not_reached,    // `waiting` rows wait; the server last answered at `reached_at`
        not_answering,  // a statement sent at `silent_since` got no answer: connecting anew
        refused,        // the server refused this bench or its rows, in `why`
        unknown_schema, // the database is not a central record this program knows
    };
    Kind kind = Kind::connecting;
    int waiting = 0;
    QDateTime reached_at; // invalid: not reached since the program started
    QDateTime silent_since;
    QString why;
    bool operator==(const CentralState& o) const {
        return kind == o.kind && waiting == o.waiting && reached_at == o.reached_at &&
               silent_since == o.silent_since && why == o.why;
    }
};

// The bench's own bound on each statement: the server's statement timeout, and time to spare
// for the network. A statement without an answer by then is given up, its connection dropped.
constexpr int default_statement_bound_ms = central_statement_timeout_ms + 15000;

class Shipper : public QObject {
    Q_OBJECT
public:
    // `connection`: the administrator's libpq connection string, bounded for a bench.
    explicit Shipper(QString connection, int statement_bound_ms = default_statement_bound_ms);
    ~Shipper() override;

public slots:
    // Every slot runs in the shipper's thread, called by a queued call with copies.
    void start();
    // A batch from the recorder (oldest first) and how many rows wait in all, this batch too.
    void take(const History::UpgradeRows& batch, int waiting);
    void ask_unit(const QString& serial);
    void ask_rows(const History::RowQuery& query);
    void finish();

signals:
    // Each emitted in the shipper's thread, queued to the receivers.
    void want_rows();                       // to the recorder: the next batch, please
    void shipped(const QStringList& uuids); // to the recorder: on the server, mark them
    void state_changed(const History::CentralState& state);
    // Its newest upgrade on the fleet; nothing when there is none or the server did not answer.
    void unit_known(const QString& serial, const std::optional<History::FleetUpgrade>& upgrade);
    void rows_ready(const History::RowPage& page);

private:
    bool connected();
    void take_trouble(const CentralTrouble& trouble);
    void take_answer();
    void take_silence();
    void retry_later();
    void publish();

    const QString connection;
    const int statement_bound_ms;
    // Both made in the shipper's thread, where they are used; the record holds the watchdog.
    std::unique_ptr<StatementWatchdog> watchdog;
    std::unique_ptr<CentralRecord> record;
    Settings::Texts texts; // for the log's words
    QDateTime asked_at;    // when the server was last asked something
    CentralState state;
    CentralState published;
    QTimer* retry = nullptr;
    int retry_ms = 0;
    QString last_why; // logged once per change
};

// How long the end of a program waits for the shipper to end a call to the central record; a
// server that does not answer is left behind, its rows shipped at the next start.
constexpr int shipper_exit_wait_ms = 1000;

// The shipper and its thread. Ended by finish_within(), which never waits on the network
// longer than its bound.
class ShipperThread {
public:
    explicit ShipperThread(const QString& connection,
                           int statement_bound_ms = default_statement_bound_ms);
    ~ShipperThread();
    ShipperThread(const ShipperThread&) = delete;
    ShipperThread& operator=(const ShipperThread&) = delete;

    Shipper* shipper() const { return shipper_; }
    // Joins the shipper to the recorder (both in threads of their own) and starts it.
    void start(Recorder* recorder);
    void finish_within(int bound_ms);

private:
    std::unique_ptr<QThread> thread;
    Shipper* shipper_;
};

// A shipper for the administrator's connection string, bounded for a bench, not yet started
// (its answers are connected first); nothing, said in the log, when the string is not libpq's
// key=value words. The string is logged without its password.
std::unique_ptr<ShipperThread> make_shipper(const QString& connection);

void register_central_types();

} // namespace History

Q_DECLARE_METATYPE(History::UpgradeRows)
Q_DECLARE_METATYPE(History::CentralState)
Q_DECLARE_METATYPE(std::optional<History::FleetUpgrade>)
