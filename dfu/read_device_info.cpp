#include "dfu/read_device_info.h"

#include "dfu/runner.h"
#include "files/files.h"
#include "files/support_misc.h"

#include <QDebug>

namespace DFU {

namespace {

// Deletes the result file, uploads into it, and reports whether dfu-util succeeded.
bool upload_into(CmdID id, const QString& path) {
    support_misc::ensure_file_is_deleted(path);
    return run_command(id, {path}).exit_code == 0;
}

} // namespace

Device::OTP_Info read_OTP_Info_from_device(const DeviceItem* /*item*/) {
    const QString path = Files::path_of(Files::uploaded_OTP_fileName_bin);
    if (!upload_into(CmdID::upload_OTP, path))
        return Device::OTP_Info();
    return Device::make_OTP_Info(path);
}

Device::FW_Info read_FW_Info(const DeviceItem* /*item*/) {
    const QString path = Files::path_of(Files::uploaded_FW_info_fileName_bin);
    if (!upload_into(CmdID::upload_FW_info, path))
        return Device::FW_Info();
    return Device::make_FW_Info(path);
}

DeviceInfo read_device_info(const DeviceItem* item) {
    DeviceInfo info;
    info.OTP_info = read_OTP_Info_from_device(item);
    info.type = info.OTP_info.product.type;
    // The OTP parser has already said why it rejected the record.
    if (!Device::is_valid(info.type))
        return info;

    info.valid = true;
    qInfo() << QString(info.OTP_info);

    info.FW_info = read_FW_Info(item);
    if (info.FW_info.product == info.OTP_info.product) {
        info.FW_revision = info.FW_info.revision;
        qInfo().noquote() << info;
        qInfo().noquote() << info.FW_info;
    } else {
        // Also a failed read: the default record's product matches no valid OTP product.
        qInfo().noquote() << "FW assumed invalid because of product type mismatch."
                          << "\nOTP contains" << info.OTP_info.product
                          << "\nwhereas FW contains\n" << info.FW_info;
        info.FW_info.valid = false;
    }
    return info;
}

} // namespace DFU
