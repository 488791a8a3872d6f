#include "app/startup.h"

#include "dfu/command.h"
#include "dfu/dfu_util.h"
#include "files/files.h"
#include "files/support_misc.h"
#include "gui/fonts.h"

#include <QCoreApplication>
#include <QDebug>
#include <QThread>

void GUI_init() {
    support::setup_fonts();

    qInfo() << "Will use real device (i.e. no option 'use_simulator'.)";
    DFU::Command::path = Files::external_dir.path();

    qInfo() << "Compiled for platform (OS):" << support_misc::compiled_for_platform()
            << "with 'DEBUG'" << (support_misc::compiled_w_DEBUG ? "defined" : "not defined");

    Files::extract_resources({Files::ID::firmware_dfu, Files::ID::firmware_bin,
                              Files::ID::dfu_util_executable, Files::ID::libusb_library},
                             true);
    support_misc::mark_file_executable(DFU::dfu_util::full_path());
    DFU::dfu_util::execution_test();
}

int GUI_cleanup(int exec_result) {
    qInfo() << "app.exec() returns: " << exec_result;
    qInfo() << "Waiting 2 s before deleting objects";
    QThread::sleep(2);
    return exec_result;
}
