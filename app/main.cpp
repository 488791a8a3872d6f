#include "app/command_line.h"
#include "app/startup.h"
#include "gui/bring_to_front.h"
#include "gui/gui_settings.h"
#include "gui/main_window.h"
#include "upgrade/program_names.h"
#include "upgrade/single_instance.h"
#include "upgrade/termination_signals.h"

#include <QApplication>

#include <cstdio>

namespace {

constexpr int already_running_status = 3;

// One window at a time: simulator mode has a lock of its own, so that a simulator window and a
// real one can run side by side. An unknown option is left to start-up, which refuses it. The
// settings are read here only for a start that is refused: it ends before start-up reads them.
bool first_start(SingleInstance& instance) {
    if (instance.claim())
        return true;
    const QString words = Settings::shipped_GUI().text("already_running");
    std::fprintf(stderr, "%s\n", qPrintable(words));
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Desktops match the window to its desktop entry and icon by this name.
    QGuiApplication::setDesktopFileName(app_id());
    // The data directory of the upgrade record: ~/.local/share/Orvanta/FirmwareUpgradeTool.
    set_program_names();
    const std::optional<bool> simulator = asks_for_simulator(app.arguments());
    SingleInstance instance(lock_name(simulator.value_or(false)));
    if (simulator && !first_start(instance))
        return already_running_status;
    quit_event_loop_on_termination_signals();
    const std::unique_ptr<WindowProgram> program = GUI_init();
    QObject::connect(&instance, &SingleInstance::asked_to_front, &instance, [&program] {
        if (program->mainWindow)
            bring_to_front(program->mainWindow);
    });
    return GUI_cleanup(*program, app.exec());
}
