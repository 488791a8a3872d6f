#include "app/startup.h"

#include "app/command_line.h"
#include "app/globals.h"
#include "app/history_wiring.h"
#include "app/log_message_handler.h"
#include "app/wiring.h"
#include "dfu/command.h"
#include "dfu/desired_firmware.h"
#include "dfu/dfu_util.h"
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

void GUI_init() {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    parse_arguments(app);
    support::setup_fonts();

    logWindow = new LogWindow(nullptr);
    if (use_log_window)
        qInstallMessageHandler(logWindowMessageHandler);

    if (simulator::use) {
        qInfo() << "Will use simulator (i.e. option 'use_simulator).";
        simulator::setup_for_simulated_dfu_util(simulator::Setup::normal);
    } else {
        qInfo() << "Will use real device (i.e. no option 'use_simulator'.)";
        // Only the extracted dfu-util: without the directory, none from PATH is ever run.
        if (Files::external_dir.isValid())
            DFU::Command::path = Files::external_dir.path();
    }

    qInfo() << "Compiled for platform (OS):" << support_misc::compiled_for_platform()
            << "with 'DEBUG'" << (support_misc::compiled_w_DEBUG ? "defined" : "not defined");

    // Also in simulator mode: the workflow's files always lie in the extraction directory.
    // Without them nothing is run at all (the failure is logged here, once).
    Files::Problem problem;
    Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin,
                              Files::ID::dfu_util_executable, Files::ID::libusb_library},
                             true, &problem);
    if (problem.why.isEmpty()) {
        support_misc::mark_file_executable(DFU::dfu_util::full_path());
        DFU::dfu_util::execution_test();
    }
    const Device::FW_Info& desired = DFU::desired_FW_Info();
    qInfo().noquote() << "Desired (embedded)" << desired;

    try {
        settings = Settings::Settings{Settings::make_GUI(":resources/settings_GUI.json"),
                                      desired.product.type, desired.revision};
    } catch (const QString& error) {
        // Only a build without the embedded settings gets here: nothing to show without them.
        qFatal("%s", qPrintable(error));
    }

    mainWindow = MainWindow_factory(&settings, nullptr, simulator::use);
    mainWindow->setWindowTitle("Orvanta Firmware Upgrade Tool");

    sm_A = new SM_A(Files::path_of(Files::desired_FW_fileName_dfu),
                    Files::path_of(Files::desired_FW_fileName_bin),
                    Files::path_of(Files::uploaded_FW_fileName_bin), nullptr);
    sm_A->no_device_delay_ms = 500;
    sm_A->connected_delay_ms = 1000;
    if (!problem.why.isEmpty())
        sm_A->run_nothing(problem.where, problem.why);
    sm_A->enable_debug_output();

    sm_B = new SM_B(sm_A, settings.desired_type, settings.desired_revision);
    sm_B->enable_debug_output();

    add_connections(app);
    add_history_connections(History::default_path());
    // 17: the worker starts from the event loop, once the machine is in its initial state.
    QObject::connect(sm_B, &QStateMachine::started, sm_B, [] {
        qInfo() << "Starting sm_A";
        sm_A->start(QThread::InheritPriority);
    }, Qt::DirectConnection);
    sm_B->start();

    mainWindow->show();
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
