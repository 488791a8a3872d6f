// The simulator program: dfu-util 0.9 and simulated Orvanta units in the STM32F4 ROM bootloader.
//   dfu-util_simulator.sh --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]
// NAME is version, list, upload_OTP, upload_FW, download_FW or setup_prepared_config. For all
// but the last, the dfu-util arguments decide what happens; setup_prepared_config switches to
// the prepared configuration named by its last argument. Without --fast-progress a 400 kB
// download takes about 25 s, as on a unit. Started with dfu-util's arguments alone and
// FAKE_DFU_UTIL_STATE set, it is the tests' fake dfu-util (fake_state.cpp).

#include "simulator/program/commands.h"
#include "simulator/program/output.h"

#include <QFileInfo>

#include <sys/stat.h>

int main(int argc, char** argv) {
    using namespace simulator;
    ::umask(077);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    set_program_name(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
    try {
        if (args.value(0) != "--dfu-util-command" &&
            qEnvironmentVariableIsSet("FAKE_DFU_UTIL_STATE"))
            return run_fake(qEnvironmentVariable("FAKE_DFU_UTIL_STATE"), args);
        return run_simulator(args);
    } catch (const Exit& exit) {
        return exit.code;
    }
}
