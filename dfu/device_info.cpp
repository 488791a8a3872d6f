#include "dfu/device_info.h"

namespace DFU {

DeviceInfo::operator QString() const {
    QString text = QStringLiteral("DeviceInfo:\n");
    if (!valid)
        return text + QStringLiteral("Invalid");
    text += QStringLiteral("\tDevice type:\t") + QString::number(static_cast<int>(type)) + '\n';
    text += QStringLiteral("\tFW_revision:\t") + FW_revision + '\n';
    return text;
}

QDebug operator<<(QDebug dbg, const DeviceInfo& info) {
    QDebugStateSaver saver(dbg);
    dbg.noquote() << QString(info);
    return dbg;
}

} // namespace DFU
