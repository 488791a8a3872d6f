#include "app/startup.h"

#include "app/command_line.h"
#include "app/log_message_handler.h"
#include "dfu/desired_firmware.h"
#include "files/support_misc.h"
#include "gui/fonts.h"
#include "gui/log_window.h"
#include "history/store.h"
#include "simulator/simulator.h"
#include "upgrade/central_setting.h"
#include "upgrade/workflow_setup.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QDebug>
#include <QThread>

namespace {

// The log window exists from here on; with "-l" every later message goes to it.
void create_log_window(bool use_log_window) {
    logWindow = new LogWindow(nullptr);
    if (use_log_window)
        qInstallMessageHandler(logWindowMessageHandler);
}

Settings::Settings load_settings(const Device::FW_Info& desired) {
    try {
        return Settings::Settings{Settings::shipped_GUI(), desired.product.type, desired.revision};
    } catch (const QString& error) {
        // Only a build without the embedded settings gets here: nothing to show without them.
        qFatal("%s", qPrintable(error));
    }
}

} // namespace

std::unique_ptr<WindowProgram> GUI_init(const StartupOptions& options) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    const CommandLine line = parse_arguments(app);
    support::setup_fonts();
    create_log_window(line.use_log_window);
    point_commands(options.simulator_setup);
    qInfo() << "Compiled for platform (OS):" << support_misc::compiled_for_platform()
            << "with 'DEBUG'" << (support_misc::compiled_w_DEBUG ? "defined" : "not defined");

    WindowSetup setup;
    setup.options = options;
    setup.working_files = prepare_working_files();
    const Device::FW_Info& desired = DFU::desired_FW_Info();
    qInfo().noquote() << "Desired (embedded)" << desired;
    qInfo().noquote() << "Desired firmware:" << DFU::desired_FW_identity();
    setup.simulator = simulator::use;
    setup.record_path = History::default_path(simulator::use);
    setup.central_connection = central_record_setting(line.central_record, simulator::use);
    std::unique_ptr<WindowProgram> program = make_window_program(load_settings(desired), setup);
    program->use_log_window = line.use_log_window;
    return program;
}

std::unique_ptr<WindowProgram> GUI_init() {
    return GUI_init(StartupOptions());
}

int GUI_cleanup(WindowProgram& program, int exec_result) {
    qInfo() << "app.exec() returns: " << exec_result;
    if (SM_B* machine = program.sm_B())
        machine->stop();
    if (SM_A* worker = program.sm_A()) {
        worker->do_stop();
        if (worker->transfer_report().running != SM_A::Transfer::none)
            qInfo() << "A download or read-back is running: shut-down waits for it to finish";
    }
    qInfo() << "Waiting 2 s before deleting objects";
    QThread::sleep(2);
    program.finish(); // joins the worker, then the record
    return exec_result;
}
