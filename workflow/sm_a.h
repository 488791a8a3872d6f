#pragma once
// The device-polling worker: the one thread that runs dfu-util after start-up. It lists the
// units, reads each newly seen one, and downloads or verifies firmware when told to. It
// reports only by signals without arguments and takes orders only through set_command.

#include "dfu/device_info.h"
#include "dfu/scan.h"
#include "workflow/situation.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <optional>

class SM_A : public QThread {
    Q_OBJECT

public:
    enum Command : int {
        none = 0,
        download_FW = 1,           // download desired_FW_dfu into the connected unit
        upload_and_compare_FW = 2, // upload the unit's firmware and compare it with desired_FW_bin
    };

    SM_A(QString desired_FW_dfu, QString desired_FW_bin, QString uploaded_FW_bin,
         QObject* parent = nullptr);
    // Stops and joins the thread. A child that is still running after give_up_after_ms is
    // killed and reaped through the runner, so the program always ends.
    ~SM_A() override;

    // Asks the loop to stop and waits at most bound_ms for it; never kills a transfer. Returns
    // whether the loop has ended. If not, it is in a dfu-util run: a download or read-back
    // (see transfer_report) ends the loop once it has finished.
    bool stop_and_wait(int bound_ms);

    // The last resort, for the end of the process: asks the loop to stop and joins the thread.
    // If it has not ended within bound_ms, the warning is logged, the runner gives up on this
    // worker's child (a transfer too), and the join waits for the loop to notice. Returns whether the
    // loop ended within the bound.
    bool stop_and_join(int bound_ms, const QString& warning);

    // An order for one announced unit (see take_announcement): carried out only while that
    // unit is still the connected one, never on a unit read later. Unit 0: whichever unit is
    // connected when the order is taken.
    void set_command(Command c, quint64 unit = 0);
    // Asks the loop to stop between dfu-util runs: it wakes the pause between scans, and the
    // runner gives up this worker's listing or short read under way (harmless: see
    // DFU::runner). A download or read-back under way runs to its end, and no new one starts.
    // Other workers' runs are not touched.
    void do_stop();
    bool is_stopping();

    // What a stop has to wait for, and what came of it. The worker writes it under the mutex;
    // transfer_report() hands out a copy.
    enum class Transfer { none, download, read_back };
    enum class Outcome {
        none,         // no transfer has ended yet
        written,      // the download ended with exit code 0 (not yet verified)
        write_failed, // the download failed
        matches,      // the read-back equals the desired image byte for byte
        differs,      // the read-back differs, or could not be made
    };
    struct TransferReport {
        Transfer running = Transfer::none; // the download or read-back under way
        Outcome last = Outcome::none;      // how the last one ended
    };
    TransferReport transfer_report();

    // The latest percent dfu-util printed for the download or read-back under way (0 when one
    // starts). The worker stores it, then emits sig_FwProgress; the GUI thread reads it then.
    int transfer_percent() const { return percent; }
    void enable_debug_output();

    // The records announced by sig_DevConn, one per emission, in emission order: the worker
    // publishes a copy under the mutex just before it emits, the GUI thread takes it when it
    // handles that emission. So the reader sees the unit the signal announced, never a
    // half-written record or one read later. Each announced unit gets a new number.
    struct Announcement {
        DFU::DeviceInfo device_info;
        quint64 unit = 0; // 0: nothing was announced
        // The first read after a download into this unit (the same serial): the download's
        // own unit back, not a unit plugged in.
        bool after_download = false;
    };
    Announcement take_announcement();

    // The latest situation, published beside the records under the same mutex: the worker
    // replaces it and emits sig_SituationChanged when it changes; the GUI thread copies it when
    // it handles that signal, and always gets the newest one.
    Situation situation();

    // Without a usable extraction directory the worker runs nothing at all: it only publishes
    // that, with the directory and the reason. Called by start-up before the thread starts.
    void run_nothing(const QString& where, const QString& why);

    // The unit this worker serves: the one on `port` (dfu-util's -p, named on every command
    // line), with its uploads in `folder`; other units listed are not its own. Without a call,
    // the one unit attached, with the uploads in the extraction directory. Called before the
    // thread starts; nothing changes it later.
    void serve_unit(const QString& port, const QString& folder);

    // Set by start-up from its options (StartupOptions) before the thread starts; nothing
    // changes them later.
    int no_device_delay_ms = 200;
    int connected_delay_ms = 200;
    int give_up_after_ms = 120000; // long enough for any normal download

signals:
    void sig_NoDevConn();
    void sig_DevConn();
    void sig_scanning();
    void sig_readingInfo();
    void sig_FwDownloading();
    void sig_FwDownloaded();
    void sig_FwUploading();
    void sig_FwUploadedDiffers();
    void sig_FwUploadedMatches();
    void sig_FwProgress(); // a new transfer_percent()
    // Each state of the loop says it was entered, so that the loop can be watched from outside
    // (its pace, and that a stop or an order ends its pauses): the tests and the debug log.
    void sig_A0_entered();
    void sig_A1_entered();
    void sig_A2_entered();
    void sig_A3_entered(); // declared for the numbering; no path of the loop enters A3
    void sig_A4_entered();
    void sig_A5_entered();
    void sig_A6_entered();
    void sig_SituationChanged();

protected:
    void run() override;

private:
    enum class State { A0, A1, A2, A4, A5, A6, stopped };
    State state_A0();
    State state_A1();
    State state_A2();
    const DFU::DeviceItem* own_unit(const DFU::Scan& scan) const;
    void see_no_single_unit(const DFU::Scan& scan);
    State read_unit(const DFU::DeviceItem& item);
    bool still_listed(const DFU::DeviceItem& item);
    DFU::Scan scan_quietly();
    void take_as_connected(const DFU::DeviceItem& item, const DFU::DeviceInfo& info);
    State state_A4();
    State state_A5();
    State state_A6();
    void announce(const DFU::DeviceInfo& info, bool after_download);
    void see(Situation::Kind kind, const DFU::Failure& failure = {});
    void publish();
    Situation without_working_files();
    void idle(const Situation& without_files);
    bool order_pending();
    Command take_command();
    void end_transfer(Outcome outcome);
    void publish_percent(int value);
    // Sleeps up to ms; a stop ends it at once, and so does an order when until_order is set.
    // Returns whether a stop was asked for.
    bool pause(int ms, bool until_order);

    // Written before the thread starts (serve_unit), then read by the worker only; the switch
    // is the stop's, raised from any thread.
    DFU::RunTarget target;
    DFU::GiveUpSwitch give_up_switch;

    // Worker thread only.
    bool first_pass_done = false; // the first pass through A1 does not sleep
    DFU::DeviceInfo device_info;
    const QString desired_FW_dfu;
    const QString desired_FW_bin;
    const QString uploaded_FW_bin;
    QString connected_serial;
    std::optional<DFU::DeviceItem> connected_item; // as listed when it was read; none: no unit
    Situation seen;            // what publish() hands over
    QString no_record_serial;  // the attached unit read without a usable record: not read again
    QString unreadable_serial; // the attached unit whose read failed: retried quietly
    QString downloaded_serial; // the unit the last download was for
    bool reread_due = false;   // the next unit read is the first since that download

    // Guarded by mutex.
    Command command = none;
    quint64 command_unit = 0; // the unit the command is for; 0: whichever is connected
    bool stopping = false;
    TransferReport transfer;
    std::deque<Announcement> announced;
    Situation situation_;
    quint64 connected_unit = 0; // number of the unit in device_info
    // Written by run_nothing() in the GUI thread (start-up); the worker copies them when it
    // starts. Not empty: the worker runs nothing.
    QString no_files_where;
    QString no_files_why;
    QMutex mutex;
    QWaitCondition woken; // by a stop or an order

    std::atomic<int> percent{0};
};
