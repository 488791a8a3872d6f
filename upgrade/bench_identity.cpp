#include "upgrade/bench_identity.h"

#include "dfu/desired_firmware.h"
#include "upgrade/program_names.h"

#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

namespace {

QString user_name() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : qEnvironmentVariable("USER");
}

} // namespace

History::Identity bench_identity(const QString& desired_revision) {
    return {desired_revision,
            DFU::desired_FW_sha256(),
            DFU::desired_FW_key_id(),
            program_version(),
            QSysInfo::machineHostName(),
            user_name()};
}
