#include "history/attempt.h"

namespace History {

QString cause_of(const DFU::Failure& failure) {
    if (failure.cause == DFU::Cause::none)
        return QString();
    return failure.detail.isEmpty() ? DFU::to_QString(failure.cause) : failure.detail;
}

Attempts::Attempts(Identity identity_) : identity(std::move(identity_)) {}

void Attempts::begin(bool install, const DFU::DeviceInfo& unit) {
    pending = Pending();
    pending->install = install;
    UpgradeRow& r = pending->row;
    r.started_at = QDateTime::currentDateTimeUtc();
    r.serial = unit.serial;
    r.product = unit.OTP_info.product_name();
    r.revision_before = unit.FW_revision;
    r.firmware_sha256 = identity.firmware_sha256;
    r.tool_version = identity.tool_version;
    r.host = identity.host;
    r.user = identity.user;
}

UpgradeRow Attempts::finish(Outcome outcome, const DFU::Failure& failure) {
    UpgradeRow r = pending->row;
    pending.reset();
    r.ended_at = QDateTime::currentDateTimeUtc();
    r.outcome = outcome_name(outcome);
    r.cause = cause_of(failure);
    return r;
}

// A unit read while an install is under way: its own unit back after the download goes on;
// any other unit, or its own before its download ran, means the install lost its unit.
std::optional<UpgradeRow> Attempts::unit_connected(const DFU::DeviceInfo& unit) {
    if (!pending)
        return std::nullopt;
    if (pending->written && unit.serial == pending->row.serial)
        return std::nullopt;
    return finish(Outcome::unit_lost);
}

void Attempts::install_started(const DFU::DeviceInfo& unit) {
    begin(true, unit);
}

void Attempts::download_started() {
    if (pending)
        pending->download.start();
}

std::optional<UpgradeRow> Attempts::download_ended(bool written, const DFU::Failure& failure) {
    if (!pending || !pending->install)
        return std::nullopt;
    if (pending->download.isValid())
        pending->row.download_ms = pending->download.elapsed();
    if (written) {
        pending->written = true;
        return std::nullopt;
    }
    return finish(failure.cause == DFU::Cause::lost ? Outcome::unit_lost : Outcome::download_failed,
                  failure);
}

std::optional<UpgradeRow> Attempts::not_carried(const DFU::DeviceInfo& unit) {
    if (!pending || !pending->written || unit.serial != pending->row.serial)
        return std::nullopt;
    return finish(Outcome::differs);
}

void Attempts::verification_started(const DFU::DeviceInfo& unit) {
    if (pending && pending->written && unit.serial == pending->row.serial)
        return; // the verification that completes the install
    begin(false, unit);
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
