#pragma once
// Where this bench's central record is, if anywhere.

#include <QString>

// The --central-record option wins; else `connection` in the group `central_record` of the
// system-wide settings file (/etc/xdg/Orvanta/FirmwareUpgradeTool.conf), which the simulator
// never reads: an installed bench's central record never receives simulated upgrades. Empty:
// no central record.
QString central_record_setting(const QString& option, bool simulator);
