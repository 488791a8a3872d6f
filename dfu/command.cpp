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
QString alt(int alternate_setting) {
    return QString::number(alternate_setting);
}
} // namespace

using namespace Device::memory_map;

std::map<CmdID, Command> commands = {
    {CmdID::version, dfu_util({"-V"})},
    {CmdID::list, dfu_util({"-d", "0483", "-l"})},
    {CmdID::upload_OTP, dfu_util({"-d", "0483", "-a", alt(otp_alt), "-s",
                                  region_text(otp_address, otp_length), "-U"})},
    {CmdID::upload_FW_info, dfu_util({"-d", "0483", "-a", alt(flash_alt), "-s",
                                      region_text(fw_info_address, fw_info_length), "-U"})},
    {CmdID::upload_FW, dfu_util({"-d", "0483", "-a", alt(flash_alt)})},
    {CmdID::download_FW, dfu_util({"-d", "0483", "-a", alt(flash_alt), "-D"})},
    {CmdID::setup_prepared_config, dfu_util({})},
};

} // namespace DFU
