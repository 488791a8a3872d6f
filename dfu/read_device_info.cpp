#include "dfu/read_device_info.h"

#include "dfu/runner.h"
#include "files/files.h"
#include "files/support_misc.h"

#include <QDebug>
#include <QFileInfo>

namespace DFU {

namespace {

// Deletes the result file, uploads into it, and says why that failed (cause none: it did not).
Failure upload_into(const RunTarget& target, CmdID id, const QString& path, Failure* failure) {
    support_misc::ensure_file_is_deleted(path);
    Failure f = classify(run_command(target, id, {path}));
    if (f.cause == Cause::none && !QFileInfo::exists(path))
        f.cause = Cause::other;
    if (failure)
        *failure = f;
    return f;
}

} // namespace

Device::OTP_Info read_OTP_Info_from_device(const DeviceItem* /*item*/, Failure* failure,
                                           const RunTarget& target) {
    const QString path = target.file(Files::uploaded_OTP_fileName_bin);
    if (upload_into(target, CmdID::upload_OTP, path, failure).cause != Cause::none)
        return Device::OTP_Info();
    return Device::make_OTP_Info(path);
}

Device::FW_Info read_FW_Info(const DeviceItem* /*item*/, Failure* failure,
                             const RunTarget& target) {
    const QString path = target.file(Files::uploaded_FW_info_fileName_bin);
    if (upload_into(target, CmdID::upload_FW_info, path, failure).cause != Cause::none)
        return Device::FW_Info();
    return Device::make_FW_Info(path);
}

DeviceInfo read_device_info(const DeviceItem* item, const RunTarget& target) {
    DeviceInfo info;
    if (item) {
        info.serial = item->serial;
        info.port = item->path;
    }
    info.OTP_info = read_OTP_Info_from_device(item, &info.read_failure, target);
    info.type = info.OTP_info.product.type;
    // The OTP parser has already said why it rejected the record.
    if (!Device::is_valid(info.type))
        return info;

    info.valid = true;
    qInfo() << QString(info.OTP_info);

    info.FW_info = read_FW_Info(item, nullptr, target);
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
