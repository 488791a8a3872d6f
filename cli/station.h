#pragma once
// One verb carried out on the units, one unit after another with --repeat: builds the worker
// (and, for install and verify, the window's upgrade machine and the record), follows them in
// the main thread, reports each step and ends with an exit status (cli/exit_status.h).
// `status` runs the worker alone: without the machine nothing ever orders a read-back.

#include "cli/options.h"
#include "cli/report.h"
#include "device/fw_info.h"
#include "dfu/device_info.h"
#include "history/upgrade_row.h"
#include "settings/texts.h"
#include "workflow/explanation.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class SM_A;
class SM_B;

namespace Cli {

class Recording;

class Station : public QObject {
    Q_OBJECT
public:
    // `worker` is made by start-up and not started; the station owns it from here.
    Station(const Options& options, const Settings::Texts& texts, Report& report, SM_A* worker);
    ~Station() override;

    // Starts the worker (and the machine): the first unit is waited for.
    void start();
    // SIGINT or SIGTERM: the station ends between dfu-util runs; a download or read-back under
    // way runs to its end first, and standard error says so.
    void stop();

signals:
    void finished(int exit_status);

private:
    // Where the turn of the current unit stands.
    enum class Turn {
        waiting, // for a unit
        working, // a unit is identified; install or verify runs
        told,    // its outcome is reported; with --repeat, waiting for it to leave
    };

    void build_machine();
    void follow_worker();
    void follow_machine();
    void begin_phase(const char* name);
    void take_percent();
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
    void record_stop(bool tell);
    void arm_deadline();
    QString words(const char* id) const;

    const Options options;
    const Settings::Texts& texts;
    Report& report;
    const Device::FW_Info desired;
    std::unique_ptr<SM_A> worker;
    std::unique_ptr<SM_B> machine;
    std::unique_ptr<Recording> recording;
    QTimer deadline;    // no unit within --wait; or the unit's re-read after a download
    QTimer record_wait; // for the record to keep an outcome's row

    Turn turn = Turn::waiting;
    bool download_ordered = false; // for the current unit
    QString unit_serial;
    Explanation said;                   // the last explanation reported
    std::optional<OutcomeEvent> untold; // waits for the record to keep its row
    std::optional<History::UpgradeRow> untold_row;
    int exit_status = 0;
    bool stop_asked = false;
    bool ending = false;
    bool worker_ended = false;
    QString phase;    // of the transfer under way: "download" or "read_back"
    int percent = -1; // the last one told
};

} // namespace Cli
