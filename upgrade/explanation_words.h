#pragma once
// The words of the explanation line under the status line: texts of the settings with their
// placeholders filled, as plain text.

#include "device/product.h"
#include "settings/texts.h"
#include "workflow/explanation.h"

#include <QString>

// Empty for an explanation of kind none.
// `desired_type` and `desired_revision`: of the firmware the program carries.
QString explanation_words(const Explanation& explanation, const Settings::Texts& texts,
                          Device::Type desired_type, const QString& desired_revision);
