#include "dfu/desired_firmware.h"

#include "files/files.h"

#include <QDebug>
#include <QFileInfo>

namespace DFU {

Device::FW_Info read_FW_Info_from_desired_FW() {
    QString path = Files::path_of(Files::desired_FW_fileName_bin);
    if (!QFileInfo::exists(path))
        path = QStringLiteral(":resources/") + Files::desired_FW_fileName_bin;
    qDebug() << "Reading desired FW_Info from " << path;
    return Device::make_FW_Info(path);
}

const Device::FW_Info& desired_FW_Info() {
    // A local static: built once, and safe even if two threads asked first at the same time.
    static const Device::FW_Info info = read_FW_Info_from_desired_FW();
    return info;
}

} // namespace DFU
