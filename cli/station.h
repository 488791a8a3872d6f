#pragma once
// One verb carried out on a unit's upgrade, one unit after another with --repeat: follows the
// upgrade's machine and facts in the main thread, gives the click on install where the verb
// wants it, reports each step and ends with an exit status (cli/exit_status.h). `status` runs
// the worker alone: without the machine nothing ever orders a read-back.

#include "cli/options.h"
#include "cli/report.h"
#include "device/fw_info.h"
#include "dfu/device_info.h"
#include "history/upgrade_row.h"
#include "settings/texts.h"
#include "upgrade/unit_upgrade.h"
#include "workflow/explanation.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class SM_A;
class SM_B;

namespace Cli {

class Station : public QObject {
    Q_OBJECT
public:
    // How many units the station serves, one after another.
    enum class Turns {
        one,        // the first unit's outcome ends it
        until_left, // the first unit's outcome is kept until that unit has left (a port of --all)
        each_unit,  // every unit that comes, until stopped (--repeat)
    };

    // The station makes the unit's upgrade of `setup` and owns it; `record` is the program's
    // (status records nothing).
    Station(const Options& options, const Settings::Texts& texts, Report& report,
            Upgrade::UnitUpgrade::Setup setup, Upgrade::ProgramRecord* record, Turns turns);
    ~Station() override;

    // The last outcome told; nothing before the first.
    const std::optional<OutcomeEvent>& last_outcome() const { return last_told; }
    // Another attached unit reports the same serial: every event says so, and every row.
    void set_serial_shared(bool shared);
    bool unit_working() const { return turn == Turn::working; }
    int units_in_progress() const { return unit_working() ? 1 : 0; }

    // Starts the upgrade: the first unit is waited for.
    void start();
    // SIGINT or SIGTERM: the station ends between dfu-util runs; a download or read-back under
    // way runs to its end first, and standard error says so.
    void stop();

signals:
    // An outcome, as it was told.
    void outcome_told(const QString& port, const Cli::OutcomeEvent& outcome);
    // The station has ended: its outcomes are told, its upgrade's worker has ended.
    void finished(int exit_status);

private:
    // Where the turn of the current unit stands.
    enum class Turn {
        waiting, // for a unit
        working, // a unit is identified; install or verify runs
        told,    // its outcome is reported; with --repeat, waiting for it to leave
    };

    SM_A* worker() const { return upgrade->worker(); }
    SM_B* machine() const { return upgrade->machine(); }
    void follow_upgrade();
    void follow_worker();
    void follow_machine();
    void take_percent(const QString& phase, int percent);
    void take_situation();
    bool conclude_on_situation(const Situation& s);
    void take_announcement();
    void tell_unit(const DFU::DeviceInfo& unit);
    void say_explanation(const Explanation& e);
    void on_unit_connected();
    void on_other_revision();
    void on_differs();
    void on_matches();
    void on_downloaded();
    void on_unit_gone();
    void order_download();
    void on_deadline();
    void conclude(OutcomeEvent outcome);
    void conclude_from_record(int exit_status);
    void tell_outcome();
    void unit_left();
    void end(int exit_status);
    void on_worker_ended();
    void tell_stop();
    void arm_deadline();
    QString words(const char* id) const;

    const Options options;
    const Settings::Texts& texts;
    Report& report;
    const Turns turns;
    Who who; // the unit's port, and its serial once identified
    const Device::FW_Info desired;
    std::unique_ptr<Upgrade::UnitUpgrade> upgrade;
    QTimer deadline;    // no unit within --wait; or the unit's re-read after a download
    QTimer record_wait; // for the record to keep an outcome's row

    Turn turn = Turn::waiting;
    bool download_ordered = false; // for the current unit
    QString unit_serial;
    Explanation said;                   // the last explanation reported
    std::optional<OutcomeEvent> untold; // waits for the record to keep its row
    std::optional<OutcomeEvent> last_told;
    std::optional<History::UpgradeRow> untold_row;
    int exit_status = 0;
    bool stop_asked = false;
    bool ending = false;
    bool worker_ended = false;
    QString phase;    // of the transfer told last: "download" or "read_back"
    int percent = -1; // the last one told
};

} // namespace Cli
