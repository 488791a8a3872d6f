#pragma once
// The words of the explanation line under the status line: texts of the settings with their
// placeholders filled, as plain text.

#include "settings/settings.h"
#include "workflow/explanation.h"

#include <QString>

// Empty for an explanation of kind none.
QString explanation_words(const Explanation& explanation, const Settings::Settings& settings);
