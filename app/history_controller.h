#pragma once
// The record of upgrades joined to the workflow and the window. Each moment of an attempt
// becomes a row handed to the recorder, whose thread alone touches the database; what the
// record knows comes back by its signals to the line under the status line and to the history
// window (Ctrl+H, beside the main window). Lives in the GUI thread.

#include "app/history_hint.h"
#include "history/attempt.h"
#include "history/recorder.h"
#include "history/shipper.h"

#include <QObject>

#include <memory>
#include <optional>

class CentralIndicator;
class HistoryWindow;

class HistoryController : public QObject {
    Q_OBJECT
public:
    // Connects to the window, SM_A and SM_B, which exist and are wired; the record at `path`
    // is opened in the recorder's thread, and start-up does not wait for it. With a central
    // record's connection string, its rows are also shipped there, from a thread of its own.
    HistoryController(const QString& path, bool simulator_record,
                      const QString& central_connection = QString());
    ~HistoryController() override;

    // At shut-down, before the workflow objects are deleted: records what a stop left
    // unfinished (once the worker has ended its transfer), then waits a few seconds for the
    // record to take the rows handed over.
    void finish();

    // Null until the technician first opens it (Ctrl+H): start-up does not build it.
    HistoryWindow* window() const { return window_.get(); }

private:
    void connect_machine();
    void connect_worker();
    void connect_recorder();
    void join_central_record(const QString& connection);
    void take_central_state(const History::CentralState& state);
    void take_fleet(const QString& serial, const std::optional<History::FleetUpgrade>& upgrade);
    void choose_unit_note();
    HistoryWindow* open_window();
    void add_shortcut(QWidget* window);
    void toggle_window();
    void put(const std::optional<History::UpgradeRow>& row);
    void on_unit_connected();
    void on_no_unit();
    void on_downloaded();
    void on_matches();
    void record_stop();
    void take_facts(const QString& serial, const History::UnitFacts& facts);
    void take_state(const History::RecorderState& state);
    void take_written(const History::UpgradeRow& row);
    void show_notes();

    History::RecorderThread recorder;
    std::unique_ptr<History::ShipperThread> shipper; // with a central record only
    CentralIndicator* indicator = nullptr;           // likewise; owned by the main window
    History::Attempts attempts;
    const bool simulator_record;
    std::unique_ptr<HistoryWindow> window_;
    bool stop_asked = false;
    bool finished = false;
    QString unit_serial;  // of the unit connected, whose facts the line tells
    QString upgrade_uuid; // of the verified upgrade whose row is being written
    std::optional<History::UpgradeRow> local_upgrade;   // the unit's newest upgrade here
    std::optional<History::FleetUpgrade> fleet_upgrade; // ... and on the whole fleet
    HintNote unit_note;        // last upgraded here or elsewhere, or recorded after the upgrade
    HintNote interrupted_note; // the unit's last upgrade was interrupted
    HintNote moved_note;       // a damaged record was moved aside
    bool moved_seen_with_unit = false; // ... and the technician has seen it with a unit
    HintNote record_note;      // rows wait, or the record belongs to a newer version
    QString moved_aside_to;
};

// The one function that start-up and the tests call: makes `historyController`.
void add_history_connections(const QString& path, bool simulator_record,
                             const QString& central_connection = QString());
// Finishes and deletes it.
void finish_history();
// The history window; null without a controller.
HistoryWindow* history_window();
