#include "dfu/firmware_transfer.h"

#include "device/memory_map.h"
#include "files/support_misc.h"

#include <QFile>

#include <limits>

namespace DFU {

int size_of_binary_file(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const qint64 size = file.size();
    // Flash images are at most a few MB; anything larger would wrap when taken as an int.
    return size > std::numeric_limits<int>::max() ? -1 : static_cast<int>(size);
}

int download_FW_to_device(const QString& dfu_path, const ProgressCallback& on_progress,
                          const RunTarget& target) {
    return run_command(target, CmdID::download_FW, {dfu_path}, on_progress).exit_code;
}

int upload_FW_from_device(const QString& path, int size, const ProgressCallback& on_progress,
                          const RunTarget& target) {
    support_misc::ensure_file_is_deleted(path);
    // From the start of flash, the length in decimal.
    const QStringList extra = {
        QStringLiteral("-s"), Device::memory_map::region_text(Device::memory_map::flash_base, size),
        QStringLiteral("-U"), path};
    return run_command(target, CmdID::upload_FW, extra, on_progress).exit_code;
}

bool upload_and_compare_FW_bin(const QString& desired_bin, const QString& uploaded_bin,
                               const ProgressCallback& on_progress, const RunTarget& target) {
    const int size = size_of_binary_file(desired_bin);
    if (size < 1)
        return false; // nothing to compare against: leave the unit alone
    if (upload_FW_from_device(uploaded_bin, size, on_progress, target) != 0)
        return false;
    return compare_FW_bin_files(desired_bin, uploaded_bin);
}

bool compare_FW_bin_files(const QString& a, const QString& b) {
    const int size_a = size_of_binary_file(a);
    if (size_a < 1)
        return false;
    if (size_of_binary_file(b) != size_a)
        return false;
    bool ok_a = false;
    bool ok_b = false;
    const QByteArray bytes_a = support_misc::read_binary_file(a, &ok_a);
    const QByteArray bytes_b = support_misc::read_binary_file(b, &ok_b);
    return ok_a && ok_b && bytes_a == bytes_b;
}

} // namespace DFU
