#include "simulator/simulator.h"

#include "dfu/command.h"
#include "dfu/runner.h"

#include <QDebug>
#include <QStringList>

#include <iterator>

namespace simulator {

bool use = false;

namespace {

const QString& simulator_dir() {
    static const QString dir = QStringLiteral(ORVANTA_SIMULATOR_DIR);
    return dir;
}

// The name each command goes by in the script, in the order of DFU::CmdID. Both flash uploads
// are "upload_FW": the script tells them apart by their "-s" length.
constexpr const char* script_names[] = {
    "version",   "list",        "upload_OTP",           "upload_FW",
    "upload_FW", "download_FW", "setup_prepared_config"};
static_assert(std::size(script_names) == static_cast<int>(DFU::CmdID::setup_prepared_config) + 1);

} // namespace

void setup_for_simulated_dfu_util(Setup setup) {
    const QString script = dfu_util_path(QStringLiteral("dfu-util_simulator.sh"));
    const bool fast = (static_cast<int>(setup) & 1) != 0;
    for (auto& [id, command] : DFU::commands) {
        QStringList args{QStringLiteral("--dfu-util-command"), script_names[static_cast<int>(id)]};
        if (fast)
            args << QStringLiteral("--fast-progress");
        command.program = script;
        command.args = args + command.args;
    }
}

QString dfu_util_path(QString name) {
    return simulator_dir() + "/" + name;
}

int sim_setup_prepared_config(QString config) {
    const DFU::CmdResult result = DFU::run_command(DFU::CmdID::setup_prepared_config, {config});
    if (result.exit_code != 0)
        qInfo() << "Failed to setup simulation config " << config << "with code"
                << result.exit_code;
    return result.exit_code;
}

} // namespace simulator
