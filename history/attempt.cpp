#include "history/attempt.h"

#include <QUuid>

namespace History {

QString cause_of(const DFU::Failure& failure) {
    if (failure.cause == DFU::Cause::none)
        return QString();
    return failure.detail.isEmpty() ? DFU::to_QString(failure.cause) : failure.detail;
}

Attempts::Attempts(Identity identity_) : identity(std::move(identity_)) {}

UpgradeRow Attempts::begin(bool install, const DFU::DeviceInfo& unit, Phase phase) {
    pending = Pending();
    pending->install = install;
    UpgradeRow& r = pending->row;
    r.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.outcome = outcome_name(Outcome::in_progress);
    r.phase = phase_name(phase);
    r.started_at = QDateTime::currentDateTimeUtc();
    r.serial = unit.serial;
    r.port = unit.port;
    r.serial_shared = serial_shared;
    r.product = unit.OTP_info.product_name();
    r.revision_before = unit.FW_revision;
    r.firmware_sha256 = identity.firmware_sha256;
    r.firmware_key_id = identity.firmware_key_id;
    r.tool_version = identity.tool_version;
    r.host = identity.host;
    r.user = identity.user;
    return r;
}

void Attempts::set_serial_shared(bool shared) {
    serial_shared = shared;
    if (pending && shared) // once said of an attempt, it stays said
        pending->row.serial_shared = true;
}

UpgradeRow Attempts::reach(Phase phase) {
    pending->row.phase = phase_name(phase);
    return pending->row;
}

UpgradeRow Attempts::finish(Outcome outcome, const DFU::Failure& failure) {
    UpgradeRow r = pending->row;
    pending.reset();
    r.ended_at = QDateTime::currentDateTimeUtc();
    r.outcome = outcome_name(outcome);
    r.cause = cause_of(failure);
    return r;
}

// A unit read while an attempt is under way: the worker's re-read of an install's own unit
// after its download goes on; any other read means the attempt lost its unit.
std::optional<UpgradeRow> Attempts::unit_connected(bool after_download) {
    if (!pending)
        return std::nullopt;
    if (pending->written && after_download)
        return std::nullopt;
    return finish(Outcome::unit_lost);
}

UpgradeRow Attempts::install_started(const DFU::DeviceInfo& unit) {
    return begin(true, unit, Phase::started);
}

std::optional<UpgradeRow> Attempts::download_started() {
    if (!pending || !pending->install)
        return std::nullopt;
    pending->download.start();
    return reach(Phase::download);
}

std::optional<UpgradeRow> Attempts::download_ended(bool written, const DFU::Failure& failure) {
    if (!pending || !pending->install)
        return std::nullopt;
    if (pending->download.isValid())
        pending->row.download_ms = pending->download.elapsed();
    if (written) {
        pending->written = true;
        return reach(Phase::downloaded);
    }
    return finish(failure.cause == DFU::Cause::lost ? Outcome::unit_lost : Outcome::download_failed,
                  failure);
}

std::optional<UpgradeRow> Attempts::not_carried(const DFU::DeviceInfo& unit) {
    if (!pending || !pending->written || unit.serial != pending->row.serial)
        return std::nullopt;
    return finish(Outcome::differs);
}

UpgradeRow Attempts::verification_started(const DFU::DeviceInfo& unit) {
    if (pending && pending->written && unit.serial == pending->row.serial)
        return reach(Phase::read_back); // the verification that completes the install
    return begin(false, unit, Phase::read_back);
}

void Attempts::read_back_started() {
    if (pending)
        pending->read_back.start();
}

std::optional<UpgradeRow> Attempts::verified(bool matches, const DFU::Failure& read_back) {
    if (!pending)
        return std::nullopt;
    if (pending->read_back.isValid())
        pending->row.readback_ms = pending->read_back.elapsed();
    if (matches) {
        pending->row.revision_after = identity.desired_revision;
        return finish(pending->install ? Outcome::upgraded : Outcome::already_current);
    }
    if (read_back.cause != DFU::Cause::none)
        return finish(Outcome::readback_failed, read_back);
    return finish(Outcome::differs);
}

std::optional<UpgradeRow> Attempts::stopped(bool matched) {
    if (!pending)
        return std::nullopt;
    if (pending->read_back.isValid()) {
        pending->row.readback_ms = pending->read_back.elapsed();
        if (matched)
            pending->row.revision_after = identity.desired_revision;
    }
    return finish(Outcome::stopped);
}

} // namespace History
