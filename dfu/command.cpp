#include "dfu/command.h"

namespace DFU {

QString Command::path;

Command::operator QString() const { return program + "(" + args.join(',') + ")"; }

namespace {
Command dfu_util(const QStringList& args) {
    Command c;
    c.args = args;
    return c;
}
} // namespace

std::map<CmdID, Command> commands = {
    {CmdID::version, dfu_util({"-V"})},
    {CmdID::list, dfu_util({"-d", "0483", "-l"})},
    {CmdID::upload_OTP, dfu_util({"-d", "0483", "-a", "2", "-s", "0x1FFF7800:512", "-U"})},
    {CmdID::upload_FW_info, dfu_util({"-d", "0483", "-a", "0", "-s", "0x08000000:2048", "-U"})},
    {CmdID::upload_FW, dfu_util({"-d", "0483", "-a", "0"})},
    {CmdID::download_FW, dfu_util({"-d", "0483", "-a", "0", "-D"})},
    {CmdID::setup_prepared_config, dfu_util({})},
};

} // namespace DFU
