#include "workflow/sm_a.h"

#include "dfu/firmware_transfer.h"
#include "dfu/read_device_info.h"
#include "dfu/run_watch.h"
#include "dfu/runner.h"
#include "dfu/scan.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QMutexLocker>

#include <atomic>
#include <memory>

namespace {
// Announcements nobody takes (no state machine attached) must not pile up for ever.
constexpr size_t max_pending_announcements = 64;
} // namespace

SM_A::SM_A(QString desired_FW_dfu_, QString desired_FW_bin_, QString uploaded_FW_bin_,
           QObject* parent)
    : QThread(parent), desired_FW_dfu(std::move(desired_FW_dfu_)),
      desired_FW_bin(std::move(desired_FW_bin_)), uploaded_FW_bin(std::move(uploaded_FW_bin_)),
      connected_serial(QLatin1String("")) {
    target.give_up = &give_up_switch;
    qDebug() << "SM_A created";
}

SM_A::~SM_A() {
    qDebug() << "SM_A: Waiting in dtor";
    stop_and_join(give_up_after_ms,
                  QStringLiteral("SM_A: dfu-util still running after %1 ms, giving up on it")
                      .arg(give_up_after_ms));
}

bool SM_A::stop_and_wait(int bound_ms) {
    do_stop();
    return wait(static_cast<unsigned long>(qMax(0, bound_ms)));
}

bool SM_A::stop_and_join(int bound_ms, const QString& warning) {
    do_stop();
    if (wait(static_cast<unsigned long>(qMax(0, bound_ms))))
        return true;
    qWarning().noquote() << warning;
    // Killing the child lets the loop see the stop at once; killing the thread itself could
    // leave the child running and the mutex locked, so that shut-down would hang.
    give_up_switch.give_up();
    wait();
    return false;
}

// An order wakes the pause in A4 at once, as a stop does, so that it is carried out within
// milliseconds rather than after the rest of the pause.
void SM_A::set_command(Command c, quint64 unit) {
    QMutexLocker lock(&mutex);
    command = c;
    command_unit = unit;
    woken.wakeAll();
}

bool SM_A::order_pending() {
    QMutexLocker lock(&mutex);
    return command != none;
}

// Takes the pending command off; one given for a unit that is no longer the connected one is
// dropped. The stop is looked at in the same critical section: once a stop has been asked
// for, no transfer starts, and one that starts is on record for the stop to wait for.
SM_A::Command SM_A::take_command() {
    QMutexLocker lock(&mutex);
    const Command c = command;
    const bool for_this_unit = command_unit == 0 || command_unit == connected_unit;
    command = none;
    command_unit = 0;
    if (stopping)
        return none;
    if (c != none && !for_this_unit) {
        qInfo() << "SM_A: order" << int(c) << "was given for a unit that is gone; dropped";
        return none;
    }
    if (c == download_FW)
        transfer.running = Transfer::download;
    else if (c == upload_and_compare_FW)
        transfer.running = Transfer::read_back;
    return c;
}

void SM_A::end_transfer(Outcome outcome) {
    QMutexLocker lock(&mutex);
    transfer.running = Transfer::none;
    transfer.last = outcome;
}

SM_A::TransferReport SM_A::transfer_report() {
    QMutexLocker lock(&mutex);
    return transfer;
}

void SM_A::do_stop() {
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        woken.wakeAll();
    }
    give_up_switch.give_up_short_runs();
}

bool SM_A::pause(int ms, bool until_order) {
    QDeadlineTimer deadline(qMax(0, ms));
    QMutexLocker lock(&mutex);
    while (!stopping && !(until_order && command != none) && !deadline.hasExpired())
        woken.wait(&mutex, deadline);
    return stopping;
}

void SM_A::publish_percent(int value) {
    percent = value;
    emit sig_FwProgress();
}

bool SM_A::is_stopping() {
    QMutexLocker lock(&mutex);
    return stopping;
}

SM_A::Announcement SM_A::take_announcement() {
    QMutexLocker lock(&mutex);
    if (announced.empty())
        return Announcement();
    Announcement a = announced.front();
    announced.pop_front();
    return a;
}

void SM_A::announce(const DFU::DeviceInfo& info, bool after_download) {
    QMutexLocker lock(&mutex);
    // An order given before this unit was announced cannot be meant for it.
    command = none;
    command_unit = 0;
    ++connected_unit;
    announced.push_back({info, connected_unit, after_download});
    if (announced.size() > max_pending_announcements)
        announced.pop_front();
}

Situation SM_A::situation() {
    QMutexLocker lock(&mutex);
    return situation_;
}

void SM_A::serve_unit(const QString& port, const QString& folder) {
    target.port = port;
    target.folder = folder;
}

void SM_A::run_nothing(const QString& where, const QString& why) {
    QMutexLocker lock(&mutex);
    no_files_where = where;
    no_files_why = why;
}

void SM_A::see(Situation::Kind kind, const DFU::Failure& failure) {
    seen.kind = kind;
    seen.failure = failure;
    publish();
}

// Hands the worker's view over when it changed, and logs it then only: a failure that repeats
// on every poll is written once, and again when it changes.
void SM_A::publish() {
    {
        QMutexLocker lock(&mutex);
        if (situation_ == seen)
            return;
        situation_ = seen;
    }
    qInfo().noquote() << "SM_A: situation:" << QString(seen);
    emit sig_SituationChanged();
}

// What run_nothing() handed over from the GUI thread, copied under the mutex; kind no_unit
// when the working files are there.
Situation SM_A::without_working_files() {
    QMutexLocker lock(&mutex);
    Situation s;
    if (no_files_why.isEmpty())
        return s;
    s.kind = Situation::Kind::no_working_files;
    s.where = no_files_where;
    s.why = no_files_why;
    return s;
}

// Says once that nothing runs, then only waits for the stop.
void SM_A::idle(const Situation& without_files) {
    seen = without_files;
    publish();
    while (!pause(60000, false)) {
    }
}

void SM_A::run() {
    const Situation without_files = without_working_files();
    if (without_files.kind == Situation::Kind::no_working_files) {
        idle(without_files);
        return;
    }
    State state = State::A0;
    while (state != State::stopped) {
        switch (state) {
        case State::A0:
            state = state_A0();
            break;
        case State::A1:
            state = state_A1();
            break;
        case State::A2:
            state = state_A2();
            break;
        case State::A4:
            state = state_A4();
            break;
        case State::A5:
            state = state_A5();
            break;
        case State::A6:
            state = state_A6();
            break;
        case State::stopped:
            break;
        }
    }
}

// Unit lost, or start.
SM_A::State SM_A::state_A0() {
    emit sig_A0_entered();
    connected_serial = QLatin1String("");
    connected_item.reset();
    no_record_serial.clear();
    unreadable_serial.clear();
    {
        // An order given for the lost unit must never be carried out on a unit read later.
        QMutexLocker lock(&mutex);
        command = none;
        command_unit = 0;
        ++connected_unit; // no unit: orders for the last one no longer apply
    }
    return State::A1;
}

// No unit taken as connected.
SM_A::State SM_A::state_A1() {
    emit sig_A1_entered();
    if (is_stopping())
        return State::stopped;
    device_info = DFU::DeviceInfo();
    emit sig_NoDevConn();
    // Orders need a unit: they do not end this pause, so the scans keep their cadence.
    const bool first_pass = !first_pass_done;
    first_pass_done = true;
    if (!first_pass && pause(no_device_delay_ms, false))
        return State::stopped;
    return State::A2;
}

// Scan.
SM_A::State SM_A::state_A2() {
    emit sig_A2_entered();
    emit sig_scanning();
    const DFU::Scan scan = scan_quietly();
    const DFU::DeviceItem* own = own_unit(scan);
    if (!own) {
        see_no_single_unit(scan);
        return State::A0;
    }
    const DFU::DeviceItem& item = *own;
    // The same unit is still there: plugged in anew, it would have another address. (Before
    // any unit is read, this is a unit listed without a serial, which is never read.)
    if (item.serial == connected_serial && (!connected_item || item.same_unit(*connected_item)))
        return State::A4;
    if (item.serial == no_record_serial)
        return State::A1; // read once: its record will not change while it stays attached
    return read_unit(item);
}

// The one unit attached; or, serving a port, the unit listed there. Null: none to use.
const DFU::DeviceItem* SM_A::own_unit(const DFU::Scan& scan) const {
    if (target.port.isEmpty())
        return scan.status == 0 && scan.devices.size() == 1 ? &scan.devices.front() : nullptr;
    for (const DFU::DeviceItem& item : scan.devices)
        if (item.path == target.port)
            return item.usable ? &item : nullptr;
    return nullptr;
}

// The listing found no unit, or several, or failed.
void SM_A::see_no_single_unit(const DFU::Scan& scan) {
    if (target.port.isEmpty() && scan.devices.size() > 1)
        see(Situation::Kind::several_units);
    else if (scan.devices.empty() && scan.failure.cause != DFU::Cause::none)
        see(Situation::Kind::listing_failed, scan.failure);
    else
        see(Situation::Kind::no_unit);
}

// One unit listed, not the connected one: read it, and take it as connected if it is valid.
SM_A::State SM_A::read_unit(const DFU::DeviceItem& item) {
    emit sig_readingInfo();
    emit sig_NoDevConn();
    DFU::DeviceInfo info;
    {
        // A retry fails as the attempt before it did: only a change is logged (publish).
        DFU::RunWatch watch(item.serial == unreadable_serial ? DFU::RunWatch::Logging::quiet
                                                             : DFU::RunWatch::Logging::as_usual);
        info = DFU::read_device_info(&item, target);
    }
    if (!still_listed(item)) {
        // Unplugged and another plugged in while it was read: what was read may be either's.
        qInfo() << "SM_A: the unit left or was replaced while it was read; scanning again";
        return State::A1;
    }
    if (!info.valid) {
        if (info.read_failure.cause != DFU::Cause::none) {
            unreadable_serial = item.serial; // retried after the A1 pause
            see(Situation::Kind::unreadable, info.read_failure);
        } else {
            no_record_serial = item.serial;
            see(Situation::Kind::no_record);
        }
        return State::A1;
    }
    take_as_connected(item, info);
    return State::A4;
}

// The unit listed before a read is listed again after it, at its port and address.
bool SM_A::still_listed(const DFU::DeviceItem& item) {
    const DFU::Scan scan = scan_quietly();
    const DFU::DeviceItem* own = own_unit(scan);
    return own && own->same_unit(item);
}

// Polled: its failures reach the log through the situation, once each.
DFU::Scan SM_A::scan_quietly() {
    const DFU::RunWatch quiet(DFU::RunWatch::Logging::quiet);
    return DFU::make_scan(target);
}

void SM_A::take_as_connected(const DFU::DeviceItem& item, const DFU::DeviceInfo& info) {
    const QString& serial = item.serial;
    unreadable_serial.clear();
    connected_serial = serial;
    connected_item = item;
    device_info = info;
    if (serial != downloaded_serial)
        seen.last_download = DFU::Failure(); // another unit: the last upgrade was not its own
    seen.read_back = DFU::Failure();
    announce(device_info, reread_due && serial == downloaded_serial);
    reread_due = false;
    see(Situation::Kind::connected);
    emit sig_DevConn();
}

// Unit connected, waiting for an order.
SM_A::State SM_A::state_A4() {
    emit sig_A4_entered();
    if (is_stopping())
        return State::stopped;
    if (pause(connected_delay_ms, true))
        return State::stopped;
    // Replaced since the last scan: the order was given for the unit before, never this one.
    if (order_pending() && connected_item && !still_listed(*connected_item))
        return State::A0;
    switch (take_command()) {
    case upload_and_compare_FW:
        return State::A6;
    case download_FW:
        return State::A5;
    case none:
        break;
    }
    return is_stopping() ? State::stopped : State::A2;
}

// Download.
SM_A::State SM_A::state_A5() {
    emit sig_A5_entered();
    emit sig_FwDownloading();
    // The loop itself goes by the re-read that follows; a stop reports the exit code.
    percent = 0;
    DFU::RunWatch watch;
    const int exit_code = DFU::download_FW_to_device(
        desired_FW_dfu, [this](int p) { publish_percent(p); }, target);
    downloaded_serial = connected_serial;
    reread_due = true;
    seen.last_download = watch.last() ? DFU::classify(*watch.last()) : DFU::Failure();
    publish();
    end_transfer(exit_code == 0 ? Outcome::written : Outcome::write_failed);
    emit sig_FwDownloaded();
    return State::A0; // read the unit again from scratch, even if it keeps its serial
}

// Upload and verify.
SM_A::State SM_A::state_A6() {
    emit sig_A6_entered();
    emit sig_FwUploading();
    percent = 0;
    DFU::RunWatch watch;
    const bool matches = DFU::upload_and_compare_FW_bin(
        desired_FW_bin, uploaded_FW_bin, [this](int p) { publish_percent(p); }, target);
    seen.read_back = watch.last() ? DFU::classify(*watch.last()) : DFU::Failure();
    if (matches)
        seen.last_download = DFU::Failure(); // the last upgrade is complete after all
    publish();
    end_transfer(matches ? Outcome::matches : Outcome::differs);
    if (matches) {
        qDebug() << "Uploaded FW matches";
        emit sig_FwUploadedMatches();
    } else {
        qDebug() << "Uploaded FW does not match";
        emit sig_FwUploadedDiffers();
    }
    // The unit stays taken as connected; a stop asked for during the read-back ends the loop
    // here rather than in a listing that would only be given up.
    return is_stopping() ? State::stopped : State::A2;
}

void SM_A::enable_debug_output() {
    qInfo() << "SM_A: Adding connections to show debug output (state transitions)";
    // Touched only in the worker thread, where these direct connections run.
    auto previous_was_repeating = std::make_shared<bool>(false);
    auto log = [this, previous_was_repeating](void (SM_A::*signal)(), const char* name,
                                              bool repeating) {
        const QString text = QStringLiteral("SM_A: /sig_") + QLatin1String(name);
        connect(
            this, signal, this,
            [previous_was_repeating, text, repeating] {
                if (!(*previous_was_repeating && repeating))
                    qDebug() << text;
                *previous_was_repeating = repeating;
            },
            Qt::DirectConnection);
    };
    log(&SM_A::sig_NoDevConn, "NoDevConn", true);
    log(&SM_A::sig_scanning, "scanning", true);
    log(&SM_A::sig_readingInfo, "readingInfo", false);
    log(&SM_A::sig_DevConn, "DevConn", false);
    log(&SM_A::sig_FwDownloading, "FwDownloading", false);
    log(&SM_A::sig_FwDownloaded, "FwDownloaded", false);
    log(&SM_A::sig_FwUploading, "FwUploading", false);
    log(&SM_A::sig_FwUploadedDiffers, "FwUploadedDiffers", false);
    log(&SM_A::sig_FwUploadedMatches, "FwUploadedMatches", false);
}
