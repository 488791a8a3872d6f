#include "simulator/simulator.h"

#include "dfu/command.h"
#include "dfu/runner.h"

#include <QDebug>
#include <QStringList>

#include <utility>
#include <vector>

namespace simulator {

bool use = false;

namespace {

const QString& simulator_dir() {
    static const QString dir = QStringLiteral(ORVANTA_SIMULATOR_DIR);
    return dir;
}

// The name each command goes by in the script. Both flash uploads are "upload_FW": the
// script tells them apart by their "-s" length.
const std::vector<std::pair<DFU::CmdID, QString>>& script_names() {
    static const std::vector<std::pair<DFU::CmdID, QString>> names = {
        {DFU::CmdID::version, QStringLiteral("version")},
        {DFU::CmdID::list, QStringLiteral("list")},
        {DFU::CmdID::upload_OTP, QStringLiteral("upload_OTP")},
        {DFU::CmdID::upload_FW_info, QStringLiteral("upload_FW")},
        {DFU::CmdID::upload_FW, QStringLiteral("upload_FW")},
        {DFU::CmdID::download_FW, QStringLiteral("download_FW")},
        {DFU::CmdID::setup_prepared_config, QStringLiteral("setup_prepared_config")},
    };
    return names;
}

} // namespace

void setup_for_simulated_dfu_util(Setup setup) {
    const QString script = dfu_util_path(QStringLiteral("dfu-util_simulator.sh"));
    const bool fast = (static_cast<int>(setup) & 1) != 0;
    for (const auto& [id, name] : script_names()) {
        DFU::Command& command = DFU::commands[id];
        QStringList args{QStringLiteral("--dfu-util-command"), name};
        if (fast)
            args << QStringLiteral("--fast-progress");
        command.program = script;
        command.args = args + command.args;
    }
}

QString dfu_util_path(QString name) { return simulator_dir() + "/" + name; }

int sim_setup_prepared_config(QString config) {
    const DFU::CmdResult result = DFU::run_command(DFU::CmdID::setup_prepared_config, {config});
    if (result.exit_code != 0)
        qInfo() << "Failed to setup simulation config " << config << "with code" << result.exit_code;
    return result.exit_code;
}

} // namespace simulator
