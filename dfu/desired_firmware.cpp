#include "dfu/desired_firmware.h"

#include "files/files.h"
#include "files/support_misc.h"

#include <QDebug>
#include <QFileInfo>

namespace DFU {

namespace {

// Written by the build's firmware check beside the DfuSe file; embedded only, never extracted.
const QString digest_fileName = QStringLiteral("firmware.sha256");
const QString key_id_fileName = QStringLiteral("firmware.key_id");

QString embedded(const QString& name) {
    return QStringLiteral(":resources/") + name;
}

// The extracted copy of a carried file, or the embedded one when it was not extracted.
QString carried_file(const QString& name) {
    const QString path = Files::path_of(name);
    return QFileInfo::exists(path) ? path : embedded(name);
}

} // namespace

Device::FW_Info read_FW_Info_from_desired_FW() {
    const QString path = carried_file(Files::desired_FW_fileName_bin);
    qDebug() << "Reading desired FW_Info from " << path;
    return Device::make_FW_Info(path);
}

const Device::FW_Info& desired_FW_Info() {
    // A local static: built once, and safe even if two threads asked first at the same time.
    static const Device::FW_Info info = read_FW_Info_from_desired_FW();
    return info;
}

QString desired_FW_sha256() {
    // A local static, as desired_FW_Info(): read once, even if two threads asked first at the same
    // time; each caller gets its own copy.
    static const QString digest =
        QString::fromLatin1(support_misc::read_binary_file(embedded(digest_fileName)).trimmed());
    return digest;
}

QString desired_FW_key_id() {
    // A local static, as desired_FW_sha256().
    static const QString key_id =
        QString::fromUtf8(support_misc::read_binary_file(embedded(key_id_fileName)).trimmed());
    return key_id;
}

QString desired_FW_identity() {
    return Device::identity(desired_FW_Info(), desired_FW_sha256(), desired_FW_key_id());
}

} // namespace DFU
