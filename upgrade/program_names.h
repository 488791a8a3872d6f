#pragma once
// The names both programs go by: the application's id (desktop entry, icon, lock), the
// organisation and application names that place the record and the settings, and the version.

#include <QString>

// com.orvanta.FirmwareUpgradeTool
QString app_id();
// The project's version, as every row of the record carries it.
QString program_version();
// Orvanta / FirmwareUpgradeTool: ~/.local/share/Orvanta/FirmwareUpgradeTool for the record,
// /etc/xdg/Orvanta/FirmwareUpgradeTool.conf for the system-wide setting.
void set_program_names();
// The lock of one mode for each user: a window and a station of one mode never upgrade side by
// side; simulator mode has a lock of its own, so that a simulator and a real bench can.
QString lock_name(bool simulator);
