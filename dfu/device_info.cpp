#include "dfu/device_info.h"

#include "device/text_form.h"

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
    return Device::write_text_form(dbg, QString(info));
}

} // namespace DFU
