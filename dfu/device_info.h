#pragma once
// Everything read from one unit: its OTP record, its firmware information block and what
// the two together say.

#include "device/fw_info.h"
#include "device/otp_info.h"
#include "device/product.h"
#include "dfu/failure_cause.h"

#include <QDebug>
#include <QString>

namespace DFU {

// A plain value, copied from the worker to the state machine.
struct DeviceInfo {
    bool valid = false;           // the OTP names a valid product type
    QString serial;               // as the listing gave it
    QString port;                 // likewise: its USB port path; empty when not listed
    QString FW_revision;          // set only when the firmware belongs to the OTP's product
    Device::OTP_Info OTP_info;    // as read from the unit
    Device::FW_Info FW_info;      // its validity is cleared when its product differs from the OTP's
    Device::Type type = Device::invalid; // the OTP's product type byte, even when not valid
    // Why the OTP area could not be read. With cause none it was read, whatever it holds: a
    // record that is not valid then means a unit without a usable product record.
    Failure read_failure;

    // "DeviceInfo:", a line feed, then either "Invalid" or the type and revision lines.
    operator QString() const;
};

// The text form, unquoted, with its tabs and line feeds; the stream's state is restored.
QDebug operator<<(QDebug dbg, const DeviceInfo& info);

} // namespace DFU
