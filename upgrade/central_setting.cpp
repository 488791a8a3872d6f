#include "upgrade/central_setting.h"

#include <QCoreApplication>
#include <QSettings>

QString central_record_setting(const QString& option, bool simulator) {
    if (!option.isEmpty() || simulator)
        return option;
    // Qt's system-wide file on Unix: <first of XDG_CONFIG_DIRS, or /etc/xdg>/<org>/<app>.conf.
    const QSettings system(QSettings::SystemScope, QCoreApplication::organizationName(),
                           QCoreApplication::applicationName());
    return system.value(QStringLiteral("central_record/connection")).toString().trimmed();
}
