#include "upgrade/program_names.h"

#include <QCoreApplication>

QString app_id() {
    return QStringLiteral(ORVANTA_APP_ID);
}

QString program_version() {
    return QStringLiteral(ORVANTA_VERSION);
}

void set_program_names() {
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("FirmwareUpgradeTool"));
}

QString lock_name(bool simulator) {
    return app_id() + (simulator ? QStringLiteral(".simulator") : QString());
}
