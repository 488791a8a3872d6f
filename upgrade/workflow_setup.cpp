#include "upgrade/workflow_setup.h"

#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "files/support_misc.h"

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
