#pragma once
// The record of upgrades, kept by the command-line program as the window keeps it: each moment
// of an attempt becomes a row (History::Attempts) handed to the recorder, whose thread alone
// touches the database. Follows the worker and the upgrade machine; lives in the main thread.

#include "history/attempt.h"
#include "history/recorder.h"
#include "history/shipper.h"

#include <QObject>

#include <memory>
#include <optional>

class SM_A;
class SM_B;

namespace Cli {

class Recording : public QObject {
    Q_OBJECT
public:
    // Connects to both before anyone else does, so that the row of a moment is made before
    // the station hears of that moment. The record at `path` opens in the recorder's thread.
    // With a central record's connection string, the rows are also shipped there.
    Recording(SM_A* worker, SM_B* machine, const QString& path, const QString& central_record);
    ~Recording() override;

    // The row that ended an attempt since the last call; nothing when none has ended.
    std::optional<History::UpgradeRow> take_outcome();
    // Whether the record has written that row.
    bool kept(const History::UpgradeRow& row) const;
    // The last attempt never returns: its unit is taken as lost (the record's unit_lost).
    void give_up_unit();
    // After the worker has ended on a stop: records what the stop left unfinished.
    void record_stop(bool matched);
    // Waits a few seconds for the record to take the rows handed over; ends its thread.
    void finish();

signals:
    // A row the record has written (copied from the recorder's thread by a queued call).
    void row_kept(const History::UpgradeRow& row);

private:
    void connect_machine(SM_B* machine, SM_A* worker);
    void connect_worker(SM_A* worker);
    void put(const std::optional<History::UpgradeRow>& row);

    History::RecorderThread recorder;
    std::unique_ptr<History::ShipperThread> shipper; // with a central record only
    History::Attempts attempts;
    std::optional<History::UpgradeRow> ended;
    QString kept_uuid; // of the last ended row the record has written
    QString kept_outcome;
    bool finished = false;
};

} // namespace Cli
