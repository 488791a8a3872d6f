#include "cli/version.h"

#include "dfu/desired_firmware.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace Cli {

namespace {

// The program's own name: the application's name is the window's, for the record.
const QString program_name = QStringLiteral("orvanta-upgrade");

// The carried firmware's fields under the names of the record's columns where it has them.
QJsonObject version_event() {
    const Device::FW_Info& firmware = DFU::desired_FW_Info();
    const QString key_id = DFU::desired_FW_key_id();
    return {{QStringLiteral("event"), QStringLiteral("version")},
            {QStringLiteral("program"), program_name},
            {QStringLiteral("version"), QCoreApplication::applicationVersion()},
            {QStringLiteral("firmware_name"), firmware.name},
            {QStringLiteral("firmware_revision"), firmware.revision},
            {QStringLiteral("product"), firmware.product.product_name()},
            {QStringLiteral("firmware_sha256"), DFU::desired_FW_sha256()},
            {QStringLiteral("firmware_key_id"), key_id},
            {QStringLiteral("firmware_signed"), key_id != Device::development_key_id()}};
}

} // namespace

void print_version(bool json, const Settings::Texts& texts) {
    if (json) {
        std::printf("%s\n",
                    QJsonDocument(version_event()).toJson(QJsonDocument::Compact).constData());
        return;
    }
    std::printf(
        "%s %s\n%s\n", qPrintable(program_name), qPrintable(QCoreApplication::applicationVersion()),
        qPrintable(
            texts.text(QStringLiteral("cli_version_firmware")).arg(DFU::desired_FW_identity())));
}

} // namespace Cli
