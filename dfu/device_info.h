#pragma once
// Everything read from one unit: its OTP record, its firmware information block and what
// the two together say.

#include "device/fw_info.h"
#include "device/otp_info.h"
#include "device/product.h"

#include <QDebug>
#include <QString>

namespace DFU {

// A plain value, copied from the worker to the state machine.
struct DeviceInfo {
    bool valid = false;           // the OTP names a valid product type
    QString FW_revision;          // set only when the firmware belongs to the OTP's product
    Device::OTP_Info OTP_info;    // as read from the unit
    Device::FW_Info FW_info;      // its validity is cleared when its product differs from the OTP's
    Device::Type type = Device::invalid; // the OTP's product type byte, even when not valid

    // "DeviceInfo:", a line feed, then either "Invalid" or the type and revision lines.
    operator QString() const;
};

// The text form, unquoted, with its tabs and line feeds; the stream's state is restored.
QDebug operator<<(QDebug dbg, const DeviceInfo& info);

} // namespace DFU
