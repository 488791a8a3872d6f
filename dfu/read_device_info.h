#pragma once
// Reading a unit: its OTP area (which product it is) and the start of its flash (which
// firmware it holds), each by one dfu-util upload into the extraction directory.

#include "device/fw_info.h"
#include "device/otp_info.h"
#include "dfu/device_info.h"
#include "dfu/scan.h"

namespace DFU {

// dfu-util acts on the target's unit: the one unit of vendor 0483 it finds, or the one on the
// target's port; `item` names no unit in its command lines and may be null. The result files
// lie in the target's folder. Each upload deletes its result file first, so a failed upload
// can never hand back an earlier unit's data.

// The default (invalid) record when the upload fails; `failure` (when given) then says why.
// An upload that reports success but writes no file has read nothing: a failure too.
Device::OTP_Info read_OTP_Info_from_device(const DeviceItem* item, Failure* failure = nullptr,
                                           const RunTarget& target = {});
// The default (invalid) record when the upload fails; `failure` as for the OTP.
Device::FW_Info read_FW_Info(const DeviceItem* item, Failure* failure = nullptr,
                             const RunTarget& target = {});

// Reads the OTP first; the firmware only when the OTP names a valid product. Firmware of
// another product than the OTP's is marked invalid.
DeviceInfo read_device_info(const DeviceItem* item, const RunTarget& target = {});

} // namespace DFU
