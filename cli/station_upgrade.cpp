// install and verify: the window's upgrade machine, followed in the main thread, with the
// click on install given by the station.

#include "cli/exit_status.h"
#include "cli/station.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

namespace Cli {

namespace {

// A failure of dfu-util that a USB rule would mend has its own status.
int status_of(const DFU::Failure& failure) {
    return failure.cause == DFU::Cause::no_access ? no_access : failed;
}

} // namespace

// The machine's signals come in the main thread, after the record's handlers (UnitUpgrade).
void Station::follow_machine() {
    SM_B* m = machine();
    const auto direct = Qt::DirectConnection;
    connect(
        m, &SM_B::sig_ExplanationChanged, this, [this] { say_explanation(machine()->explanation); },
        direct);
    connect(m, &SM_B::sig_DeviceConnected, this, &Station::on_unit_connected, direct);
    connect(m, &SM_B::sig_DifferingRevision, this, &Station::on_other_revision, direct);
    connect(
        m, &SM_B::sig_UploadingVerifying, this, [this] { report.step(words("cli_reading_back"), who); },
        direct);
    connect(
        m, &SM_B::sig_Upgrading, this, [this] { report.step(words("cli_writing"), who); }, direct);
    connect(m, &SM_B::sig_FwMatches, this, &Station::on_matches, direct);
    connect(m, &SM_B::sig_FwDiffers, this, &Station::on_differs, direct);
    connect(m, &SM_B::sig_UpgradeImpossible, this, &Station::on_unit_gone, direct);
    connect(
        m, &SM_B::sig_InvalidProduct, this,
        [this] {
            say_explanation({Explanation::Kind::other_product, {}, {}, {}});
            conclude(unrecorded("refused", refused, unit_serial, machine()->device_info.FW_revision));
        },
        direct);
}

// A unit read: a new one, or the install's own unit read again after its download.
void Station::on_unit_connected() {
    if (turn == Turn::told && turns == Turns::until_left) {
        unit_left(); // another unit came in its place: its own station serves it
        return;
    }
    if (turn == Turn::working && download_ordered) {
        deadline.stop();
        if (!machine()->device_after_download) // another unit came: the install's unit is lost
            conclude_from_record(failed);
        return;
    }
    if (turn == Turn::waiting)
        tell_unit(machine()->device_info);
}

// The click on install, given in the window's states that offer it. Queued: the machine is
// still entering the state that offers it.
void Station::order_download() {
    download_ordered = true;
    QMetaObject::invokeMethod(machine(), "do_download", Qt::QueuedConnection);
}

void Station::on_other_revision() {
    if (turn != Turn::working)
        return;
    if (download_ordered) { // read again after the download, with another revision
        conclude_from_record(failed);
        return;
    }
    if (options.verb == Verb::install) {
        order_download();
        return;
    }
    // verify: the information block already says that the firmware is not the carried one.
    say_explanation({Explanation::Kind::firmware_differs, {}, {}, {}});
    conclude(unrecorded("differs", failed, unit_serial, machine()->device_info.FW_revision));
}

// A read-back that differs is written again by install, once; one that failed is not.
void Station::on_differs() {
    if (turn != Turn::working)
        return;
    const DFU::Failure read_back = worker()->situation().read_back;
    if (options.verb == Verb::install && !download_ordered && read_back.cause == DFU::Cause::none) {
        order_download();
        return;
    }
    conclude_from_record(status_of(read_back));
}

void Station::on_matches() {
    if (turn == Turn::working)
        conclude_from_record(done);
}

// A download that failed ends the turn; a written one is verified after the unit's re-read.
void Station::on_downloaded() {
    if (turn == Turn::working && worker()->transfer_report().last == SM_A::Outcome::write_failed)
        conclude_from_record(status_of(worker()->situation().last_download));
}

// After a download the unit goes and comes back: --wait bounds its return.
void Station::on_unit_gone() {
    if (turn == Turn::working && download_ordered && options.wait_seconds > 0)
        deadline.start(options.wait_seconds * 1000);
}

} // namespace Cli
