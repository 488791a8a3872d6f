#include "app/window_program.h"

#include "app/history_controller.h"
#include "app/wiring.h"
#include "gui/main_window.h"
#include "upgrade/program_record.h"
#include "upgrade/unit_upgrade.h"

#include <QApplication>

WindowProgram::WindowProgram() = default;

WindowProgram::~WindowProgram() {
    finish();
}

SM_A* WindowProgram::sm_A() const {
    return upgrade ? upgrade->worker() : nullptr;
}

SM_B* WindowProgram::sm_B() const {
    return upgrade ? upgrade->machine() : nullptr;
}

void WindowProgram::finish() {
    history.reset();
    if (upgrade)
        upgrade->finish();
    if (record)
        record->finish();
    upgrade.reset();
}

std::unique_ptr<WindowProgram> make_window_program(Settings::Settings settings,
                                                   const WindowSetup& setup) {
    auto program = std::make_unique<WindowProgram>();
    WindowProgram& p = *program;
    p.settings = std::move(settings);
    p.mainWindow = MainWindow_factory(&p.settings, nullptr, setup.simulator);
    p.mainWindow->setWindowTitle("Orvanta Firmware Upgrade Tool");
    if (!setup.record_path.isEmpty())
        p.record = std::make_unique<Upgrade::ProgramRecord>(setup.record_path,
                                                            setup.central_connection);
    Upgrade::UnitUpgrade::Setup unit;
    unit.pace = setup.options;
    unit.working_files = setup.working_files;
    p.upgrade = std::make_unique<Upgrade::UnitUpgrade>(unit, p.record.get());
    add_connections(qobject_cast<QApplication*>(QCoreApplication::instance()), p);
    if (p.record) {
        p.history = std::make_unique<HistoryController>(p, setup.simulator);
        p.record->start(); // its first answers find their connections made
    }
    p.upgrade->start();
    p.mainWindow->show();
    return program;
}
