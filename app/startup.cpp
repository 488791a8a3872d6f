#include "app/startup.h"

#include "app/central_setting.h"
#include "app/command_line.h"
#include "app/globals.h"
#include "app/history_controller.h"
#include "app/log_message_handler.h"
#include "app/wiring.h"
#include "app/workflow_setup.h"
#include "dfu/desired_firmware.h"
#include "files/files.h"
#include "files/support_misc.h"
#include "gui/fonts.h"
#include "gui/log_window.h"
#include "gui/main_window.h"
#include "history/store.h"
#include "settings/gui_settings.h"
#include "simulator/simulator.h"
#include "workflow/sm_a.h"
#include "workflow/sm_b.h"

#include <QApplication>
#include <QDebug>
#include <QThread>

namespace {

// The log window exists from here on; with "-l" every later message goes to it.
void create_log_window() {
    logWindow = new LogWindow(nullptr);
    if (use_log_window)
        qInstallMessageHandler(logWindowMessageHandler);
}

void load_settings(const Device::FW_Info& desired) {
    try {
        settings =
            Settings::Settings{Settings::shipped_GUI(), desired.product.type, desired.revision};
    } catch (const QString& error) {
        // Only a build without the embedded settings gets here: nothing to show without them.
        qFatal("%s", qPrintable(error));
    }
}

// The worker and the machine.
void create_workflow(const StartupOptions& options, const Files::Problem& problem) {
    sm_A = make_worker(options, problem);
    sm_B = new SM_B(sm_A, settings.desired_type, settings.desired_revision);
    sm_B->enable_debug_output();
}

// The worker starts from the event loop, once the machine is in its initial state.
void start_worker() {
    qInfo() << "Starting sm_A";
    sm_A->start(QThread::InheritPriority);
}

} // namespace

void GUI_init(const StartupOptions& options) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    parse_arguments(app);
    support::setup_fonts();
    create_log_window();
    point_commands(options.simulator_setup);
    qInfo() << "Compiled for platform (OS):" << support_misc::compiled_for_platform()
            << "with 'DEBUG'" << (support_misc::compiled_w_DEBUG ? "defined" : "not defined");

    const Files::Problem problem = prepare_working_files();
    const Device::FW_Info& desired = DFU::desired_FW_Info();
    qInfo().noquote() << "Desired (embedded)" << desired;
    qInfo().noquote() << "Desired firmware:" << DFU::desired_FW_identity();
    load_settings(desired);

    mainWindow = MainWindow_factory(&settings, nullptr, simulator::use);
    mainWindow->setWindowTitle("Orvanta Firmware Upgrade Tool");
    create_workflow(options, problem);
    add_connections(app);
    add_history_connections(History::default_path(simulator::use), simulator::use,
                            central_record_setting(central_record_option, simulator::use));
    QObject::connect(sm_B, &QStateMachine::started, sm_B, &start_worker, Qt::DirectConnection);
    sm_B->start();
    mainWindow->show();
}

void GUI_init() {
    GUI_init(StartupOptions());
}

int GUI_cleanup(int exec_result) {
    qInfo() << "app.exec() returns: " << exec_result;
    if (sm_B)
        sm_B->stop();
    if (sm_A) {
        sm_A->do_stop();
        if (sm_A->transfer_report().running != SM_A::Transfer::none)
            qInfo() << "A download or read-back is running: shut-down waits for it to finish";
    }
    qInfo() << "Waiting 2 s before deleting objects";
    QThread::sleep(2);
    finish_history();
    delete sm_A; // waits for the worker thread
    sm_A = nullptr;
    delete sm_B;
    sm_B = nullptr;
    return exec_result;
}
