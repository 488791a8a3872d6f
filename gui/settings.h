#pragma once
// What the main window is built from: the GUI settings and the desired firmware's identity.

#include "device/product.h"
#include "gui/gui_settings.h"

#include <QString>

namespace Settings {

struct Settings {
    GUI gui;
    Device::Type desired_type = Device::invalid; // shown by its full product name in label "2"
    QString desired_revision;                    // shown in label "4"
};

} // namespace Settings
