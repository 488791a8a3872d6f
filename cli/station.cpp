#include "cli/station.h"

#include "cli/exit_status.h"
#include "dfu/desired_firmware.h"
#include "upgrade/explanation_words.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QDebug>

#include <cstdio>

namespace Cli {

Station::Station(const Options& options_, const Settings::Texts& texts_, Report& report_,
                 Upgrade::UnitUpgrade::Setup setup, Upgrade::ProgramRecord* record, Turns turns_)
    : options(options_), texts(texts_), report(report_), turns(turns_),
      who{setup.unit.port, setup.unit.serial, false}, desired(DFU::desired_FW_Info()) {
    setup.with_machine = options.verb != Verb::status;
    upgrade = std::make_unique<Upgrade::UnitUpgrade>(setup, setup.with_machine ? record : nullptr);
    deadline.setSingleShot(true);
    record_wait.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, &Station::on_deadline);
    connect(&record_wait, &QTimer::timeout, this, &Station::tell_outcome);
    follow_upgrade();
    if (machine())
        follow_machine();
    follow_worker();
}

// The upgrade's end joins its worker; a transfer under way has ended before (end()).
Station::~Station() = default;

// The upgrade's facts come in this thread.
void Station::follow_upgrade() {
    Upgrade::UnitUpgrade* u = upgrade.get();
    connect(u, &Upgrade::UnitUpgrade::row_kept, this, [this](const History::UpgradeRow& row) {
        if (untold_row && row.uuid == untold_row->uuid && row.outcome == untold_row->outcome)
            tell_outcome();
    });
    connect(u, &Upgrade::UnitUpgrade::transfer_progress, this, &Station::take_percent);
    connect(u, &Upgrade::UnitUpgrade::ended, this, &Station::on_worker_ended);
}

// The worker signals from its thread: queued here, where its published copies are read.
void Station::follow_worker() {
    const auto queued = Qt::QueuedConnection;
    connect(worker(), &SM_A::sig_SituationChanged, this, &Station::take_situation, queued);
    if (!machine())
        connect(worker(), &SM_A::sig_DevConn, this, &Station::take_announcement, queued);
    connect(worker(), &SM_A::sig_FwDownloaded, this, &Station::on_downloaded, queued);
}

// Told when it changed.
void Station::take_percent(const QString& now_phase, int now) {
    if (now == percent && now_phase == phase)
        return;
    phase = now_phase;
    percent = now;
    report.progress(phase, now, who);
}

void Station::start() {
    report.step(words("cli_waiting"), who);
    arm_deadline();
    upgrade->start();
}

// --wait bounds the wait for a unit; a station (--repeat) waits for each unit without one.
void Station::arm_deadline() {
    if (options.wait_seconds > 0 && turns == Turns::one)
        deadline.start(options.wait_seconds * 1000);
}

QString Station::words(const char* id) const {
    return plain(texts.text(QLatin1String(id)));
}

void Station::say_explanation(const Explanation& e) {
    if (e == said)
        return;
    said = e;
    const QString text = explanation_words(e, texts, desired.product.type, desired.revision);
    if (!text.isEmpty())
        report.message(plain(text), who);
}

// What the worker sees without a unit it can use: said as the window says it; while a unit is
// waited for, a situation that will not change by waiting is an outcome.
void Station::take_situation() {
    const Situation s = worker()->situation();
    if (turn == Turn::told && s.kind == Situation::Kind::no_unit)
        unit_left();
    if (!machine())
        say_explanation(explain(Stage::no_unit, s));
    if (turn == Turn::waiting)
        conclude_on_situation(s);
}

bool Station::conclude_on_situation(const Situation& s) {
    const bool no_access = s.failure.cause == DFU::Cause::no_access;
    if (s.kind == Situation::Kind::several_units)
        conclude(unrecorded("several_units", no_single_unit));
    else if (s.kind == Situation::Kind::no_working_files)
        conclude(unrecorded("no_working_files", failed));
    else if (s.kind == Situation::Kind::no_record)
        conclude(unrecorded("no_record", refused));
    else if (no_access &&
             (s.kind == Situation::Kind::listing_failed || s.kind == Situation::Kind::unreadable))
        conclude(unrecorded("no_access", Cli::no_access));
    else
        return false;
    return true;
}

void Station::set_serial_shared(bool shared) {
    if (shared == who.serial_shared)
        return;
    who.serial_shared = shared;
    upgrade->set_serial_shared(shared);
    if (shared)
        report.message(words("cli_serial_shared").arg(who.serial, who.port), who);
}

void Station::tell_unit(const DFU::DeviceInfo& unit) {
    deadline.stop();
    turn = Turn::working;
    download_ordered = false;
    unit_serial = unit.serial;
    who.serial = unit.serial;
    report.unit({unit.serial, unit.OTP_info.product_name(), unit.FW_revision, desired.revision}, who);
}

// status: the worker's own announcement, without a machine; nothing is read back or written.
void Station::take_announcement() {
    const SM_A::Announcement a = worker()->take_announcement();
    if (a.unit == 0 || turn != Turn::waiting)
        return;
    tell_unit(a.device_info);
    if (a.device_info.type != desired.product.type) {
        say_explanation({Explanation::Kind::other_product, {}, {}, {}});
        conclude(unrecorded("refused", refused, unit_serial, a.device_info.FW_revision));
        return;
    }
    const QString revision = a.device_info.FW_revision;
    const QString product = a.device_info.OTP_info.product_name();
    report.message(revision.isEmpty() ? words("status_devRevUnknown").arg(product)
                                      : words("status_devRev").arg(product, revision), who);
    conclude(unrecorded("identified", done, unit_serial, revision));
}

} // namespace Cli
