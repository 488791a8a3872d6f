#pragma once
// One unit's upgrade, from its first listing to its end: the worker that polls and reads the
// unit and runs its transfers (SM_A), the machine that carries the upgrade through the states
// the window shows (SM_B), the unit's working folder and the rows of its attempts. The only
// place that assembles an upgrade: the window and orvanta-upgrade are views of it, which follow
// its machine's states and its facts, and give it the click and the stop. Qt Core only; lives
// in the thread that made it (the GUI or main thread).

#include "files/files.h"
#include "history/attempt.h"
#include "history/central_record.h"
#include "history/store.h"
#include "upgrade/startup_options.h"

#include <QObject>
#include <QSet>

#include <memory>
#include <optional>

class SM_A;
class SM_B;

namespace Upgrade {

class ProgramRecord;

// Which unit an upgrade serves: the one on its USB port, as dfu-util 0.9 lists the port
// (path="1-1.3") and selects it (-p, an exact match); the serial it reported there, which may
// be another unit's too. Without a port: the one unit attached, as the window has it.
struct UnitSelector {
    QString port;
    QString serial;
};

class UnitUpgrade : public QObject {
    Q_OBJECT
public:
    struct Setup {
        UnitSelector unit;
        StartupOptions pace;            // of the worker's polling
        Files::Problem working_files;   // start-up's; when there is one, nothing runs
        bool with_machine = true;       // false: the worker alone identifies the unit
        bool debug_output = true;       // the worker's and the machine's transitions in the log
    };

    // `record`: the program's, shared by its units (null: nothing is recorded). The record
    // follows the worker and the machine before any view can, so that a moment's row is
    // handed over before a view hears of the moment.
    UnitUpgrade(const Setup& setup, ProgramRecord* record, QObject* parent = nullptr);
    ~UnitUpgrade() override; // finish()

    SM_A* worker() const { return worker_.get(); }
    SM_B* machine() const { return machine_.get(); } // null without one
    const UnitSelector& unit() const { return setup.unit; }
    // Where the unit's uploads lie: the extraction directory for the one unit attached, a
    // folder of its own beside the carried firmware for a unit on a port.
    const QString& working_folder() const { return folder; }

    // Starts the worker once the machine is in its initial state (at once without one).
    void start();
    // Stops the machine and asks the worker to stop between dfu-util runs; waits at most
    // bound_ms. Returns whether the worker has ended; if not, a download or read-back runs to
    // its end first, and stopping_after_transfer() has been emitted. Its own runs only.
    bool stop(int bound_ms);
    // The end: waits for a transfer under way (at most the worker's give-up bound), records
    // what a stop left unfinished, and joins the worker. The program's record is the
    // program's to finish, after all its units.
    void finish();

    // The row that ended an attempt since the last call; nothing when none has.
    std::optional<History::UpgradeRow> take_outcome();
    // Whether the record has written this row as it stands.
    bool kept(const History::UpgradeRow& row) const;
    // The attempt's unit never came back after its download: it is lost (unit_lost).
    void give_up_unit();
    bool attempt_pending() const { return attempts.attempt_pending(); }
    // Another attached unit reports the same serial: its rows say so from now on.
    void set_serial_shared(bool shared) { attempts.set_serial_shared(shared); }

signals:
    // A unit read that is not an install's own unit read again after its download.
    void unit_identified(const QString& serial);
    // The machine is back in its initial state, with no attempt waiting for its unit.
    void unit_left();
    // An attempt's outcome row, handed to the record.
    void attempt_ended(const History::UpgradeRow& row);
    // The record has written one of this upgrade's rows.
    void row_kept(const History::UpgradeRow& row);
    // What the record and the fleet know of the unit identified last.
    void unit_known(const History::UnitFacts& facts);
    void fleet_known(const std::optional<History::FleetUpgrade>& upgrade);
    // The download or read-back under way: its phase ("download", "read_back") and percent.
    void transfer_progress(const QString& phase, int percent);
    // A stop waits for the transfer under way.
    void stopping_after_transfer();
    // The worker has ended (after a stop, or a failure to start).
    void ended();

private:
    void make_folder();
    void make_worker();
    void record_machine();
    void record_worker();
    void follow_record();
    void follow_progress();
    void on_unit_connected();
    void on_no_unit();
    void on_worker_ended();
    void record_stop();
    void put(const std::optional<History::UpgradeRow>& row);

    const Setup setup;
    ProgramRecord* const record;
    QString folder;
    Files::Problem problem;
    std::unique_ptr<SM_A> worker_;
    std::unique_ptr<SM_B> machine_;
    History::Attempts attempts;
    std::optional<History::UpgradeRow> ended_row; // the last outcome, until taken
    QSet<QString> own_uuids;                      // of this upgrade's attempts
    QString kept_uuid;                            // the last row the record wrote ...
    QString kept_outcome;                         // ... as it stood
    QString unit_serial;                          // of the unit identified last
    QString phase;                                // of the transfer under way
    bool stop_asked = false;
    bool stop_recorded = false;
    bool finished = false;
};

} // namespace Upgrade
