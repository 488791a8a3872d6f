#pragma once
// What the central record's state says to a technician, in the texts of settings_GUI.json: one
// wording for the window's indicator and for the log of both programs.

#include "history/shipper.h"
#include "settings/texts.h"

namespace History {

QString central_words(const CentralState& state, const Settings::Texts& texts);

} // namespace History
