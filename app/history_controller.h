#pragma once
// What the window shows of the record: the line under the status line learns from the unit's
// upgrade and the program's record what they know of the unit connected and of the record
// itself, the indicator says how the central record fares, and the history window (Ctrl+H,
// beside the main window) shows the rows. The rows themselves are the unit's upgrade's to make.
// Lives in the GUI thread.

#include "app/history_hint.h"
#include "history/central_record.h"
#include "history/recorder.h"
#include "history/shipper.h"
#include "history/store.h"

#include <QObject>

#include <memory>
#include <optional>

class CentralIndicator;
class HistoryWindow;
class QWidget;
class WindowProgram;

class HistoryController : public QObject {
    Q_OBJECT
public:
    // The program's record and upgrade exist, the record is not yet started.
    HistoryController(WindowProgram& program, bool simulator_record);
    ~HistoryController() override;

    // Null until the technician first opens it (Ctrl+H): start-up does not build it.
    HistoryWindow* window() const { return window_.get(); }

private:
    void follow_upgrade();
    void follow_record();
    void join_central_record();
    void take_central_state(const History::CentralState& state);
    void take_fleet(const std::optional<History::FleetUpgrade>& upgrade);
    void choose_unit_note();
    HistoryWindow* open_window();
    void add_shortcut(QWidget* window);
    void toggle_window();
    void on_unit_identified();
    void on_unit_left();
    void on_attempt_ended(const History::UpgradeRow& row);
    void take_facts(const History::UnitFacts& facts);
    void take_state(const History::RecorderState& state);
    void take_written(const History::UpgradeRow& row);
    void show_notes();
    QString text(const char* id) const;

    WindowProgram& program;
    CentralIndicator* indicator = nullptr; // with a central record; owned by the main window
    const bool simulator_record;
    std::unique_ptr<HistoryWindow> window_;
    bool unit_connected = false; // a unit is connected, whose facts the line tells
    QString upgrade_uuid;        // of the verified upgrade whose row is being written
    std::optional<History::UpgradeRow> local_upgrade;   // the unit's newest upgrade here
    std::optional<History::FleetUpgrade> fleet_upgrade; // ... and on the whole fleet
    HintNote unit_note;        // last upgraded here or elsewhere, or recorded after the upgrade
    HintNote interrupted_note; // the unit's last upgrade was interrupted
    HintNote moved_note;       // a damaged record was moved aside
    bool moved_seen_with_unit = false; // ... and the technician has seen it with a unit
    HintNote record_note;      // rows wait, or the record belongs to a newer version
    QString moved_aside_to;
};

// The history window of a program; null without one.
HistoryWindow* history_window(const WindowProgram& program);
