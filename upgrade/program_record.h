#pragma once
// The record of one program: the recorder, which alone owns the bench's record in a thread of
// its own, and, with a central record, the shipper, in another. Shared by every unit's upgrade
// of the program; started once the views are connected, ended in one order. Lives in the
// thread that made it (the GUI or main thread), to which it hands the recorder's and the
// shipper's answers.
//
// One program writes a record: the lock of a user and a mode (SingleInstance) keeps a second
// program out, and only that makes the recorder's recovery at open safe, which takes every row
// of this host still in progress for one that an ended program left (see Recorder::start).

#include "history/recorder.h"
#include "history/shipper.h"

#include <QObject>

#include <memory>
#include <optional>

namespace Upgrade {

class ProgramRecord : public QObject {
    Q_OBJECT
public:
    // The record at `path`; with a central record's connection string, its rows are shipped
    // there too. Nothing is opened before start().
    ProgramRecord(const QString& path, const QString& central_connection);
    // The program's own record for its mode, and the central record of its option or of the
    // system-wide setting (central_setting.h).
    static std::unique_ptr<ProgramRecord> for_program(bool simulator, const QString& central_option);
    ~ProgramRecord() override;

    // Opens the record and starts shipping; after the views have connected to the answers.
    void start();
    // To the recorder's thread, as a copy; its answers come back by the signals below.
    void put(const History::UpgradeRow& row);
    // What the record and the fleet know of the unit: unit_known and fleet_known.
    void ask_unit(const QString& serial);
    // Every finished row counted by port and outcome: outcome_counts.
    void ask_outcome_counts();

    // For the history window's questions, asked by queued calls.
    History::Recorder* recorder() const { return recorder_.recorder(); }
    History::Shipper* shipper() const { return shipper_ ? shipper_->shipper() : nullptr; }
    // A central record was set, but its setting is not a connection string: none is used.
    bool central_not_understood() const { return central_not_understood_; }

    // The shipper first, so that the marks of its last batch reach the recorder, then the
    // recorder, each within its bound; then the answers queued meanwhile are delivered. For
    // the end of the program, after every unit's upgrade has handed over its last row.
    void finish();

signals:
    // The recorder's and the shipper's answers, each queued here from their threads as copies.
    void state_changed(const History::RecorderState& state);
    void row_written(const History::UpgradeRow& row);
    void unit_known(const QString& serial, const History::UnitFacts& facts);
    void outcome_counts(const History::OutcomeCounts& counts);
    void central_state_changed(const History::CentralState& state);
    void fleet_known(const QString& serial, const std::optional<History::FleetUpgrade>& upgrade);

private:
    void forward_recorder();
    void forward_shipper();

    History::RecorderThread recorder_;
    std::unique_ptr<History::ShipperThread> shipper_; // with a central record only
    bool central_not_understood_ = false;
    bool started = false;
    bool finished = false;
};

} // namespace Upgrade
