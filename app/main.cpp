#include "app/command_line.h"
#include "app/globals.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/termination_signals.h"
#include "gui/bring_to_front.h"
#include "gui/main_window.h"
#include "settings/gui_settings.h"

#include <QApplication>

#include <cstdio>

namespace {

constexpr int already_running_status = 3;

// One window at a time: simulator mode has a lock of its own, so that a simulator window and a
// real one can run side by side. An unknown option is left to start-up, which refuses it. The
// settings are read here only for a start that is refused: it ends before start-up reads them.
bool first_start(SingleInstance& instance) {
    if (!instance.claim()) {
        const QString words = Settings::shipped_GUI().text("already_running");
        std::fprintf(stderr, "%s\n", qPrintable(words));
        return false;
    }
    QObject::connect(&instance, &SingleInstance::asked_to_front, &instance, [] {
        if (mainWindow)
            bring_to_front(mainWindow);
    });
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Desktops match the window to its desktop entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(ORVANTA_APP_ID));
    // The data directory of the upgrade record: ~/.local/share/Orvanta/FirmwareUpgradeTool.
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("FirmwareUpgradeTool"));
    const std::optional<bool> simulator = asks_for_simulator(app.arguments());
    SingleInstance instance(QStringLiteral(ORVANTA_APP_ID) +
                            (simulator.value_or(false) ? QStringLiteral(".simulator") : QString()));
    if (simulator && !first_start(instance))
        return already_running_status;
    quit_event_loop_on_termination_signals();
    GUI_init();
    return GUI_cleanup(app.exec());
}
