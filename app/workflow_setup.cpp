#include "app/workflow_setup.h"

#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "files/support_misc.h"
#include "workflow/sm_a.h"

#include <QDebug>

void point_commands(simulator::Setup setup) {
    if (simulator::use) {
        qInfo() << "Will use simulator (i.e. option 'use_simulator).";
        simulator::setup_for_simulated_dfu_util(setup);
    } else {
        qInfo() << "Will use real device (i.e. no option 'use_simulator'.)";
        // Only the extracted dfu-util: without the directory, none from PATH is ever run.
        if (Files::external_dir.isValid())
            DFU::Command::path = Files::external_dir.path();
    }
}

Files::Problem prepare_working_files() {
    Files::Problem problem;
    Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin,
                              Files::ID::dfu_util_executable, Files::ID::libusb_library},
                             true, &problem);
    if (problem.why.isEmpty()) {
        support_misc::mark_file_executable(DFU::dfu_util::full_path());
        DFU::dfu_util::execution_test();
    }
    return problem;
}

// The worker's pace is set before its thread can exist.
SM_A* make_worker(const StartupOptions& options, const Files::Problem& problem) {
    auto* worker = new SM_A(Files::path_of(Files::desired_FW_fileName_dfu),
                            Files::path_of(Files::desired_FW_fileName_bin),
                            Files::path_of(Files::uploaded_FW_fileName_bin), nullptr);
    worker->no_device_delay_ms = options.no_device_delay_ms;
    worker->connected_delay_ms = options.connected_delay_ms;
    if (!problem.why.isEmpty())
        worker->run_nothing(problem.where, problem.why);
    worker->enable_debug_output();
    return worker;
}
