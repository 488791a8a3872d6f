#pragma once
// The firmware the program carries: which product and revision it installs (its firmware
// information block) and the SHA-256 that names it.

#include "device/fw_info.h"

namespace DFU {

// Parses "firmware.bin" in the extraction directory; when that could not be extracted, the
// embedded image itself, so that the window still names the product and revision it installs.
Device::FW_Info read_FW_Info_from_desired_FW();

// Read once, on first use, and kept for the life of the process, even when invalid. Start-up
// calls it after extracting the resources, before anything else needs it.
const Device::FW_Info& desired_FW_Info();

// The SHA-256 of the carried DfuSe file, lower-case hexadecimal, as the build's firmware check
// computed it (the embedded "firmware.sha256"; empty if that is missing). Read once, on first
// use, and kept for the life of the process; any thread may ask.
QString desired_FW_sha256();

// The key id of the minisign key that signed the carried firmware, as minisign prints it (all 16
// upper-case hexadecimal digits), or Device::development_key_id() for the development firmware
// (the embedded "firmware.key_id", written by the build's firmware check; empty if that is
// missing). Read once, as desired_FW_sha256().
QString desired_FW_key_id();

// The carried firmware's identity (Device::identity, with desired_FW_sha256() and
// desired_FW_key_id()), for the start-up log.
QString desired_FW_identity();

} // namespace DFU
