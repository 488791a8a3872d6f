#include "dfu/run_target.h"

#include "dfu/runner.h"
#include "files/files.h"

namespace DFU {

bool GiveUpSwitch::gives_up(CmdID id) const {
    const int now = level;
    return now == everything || (now == short_runs && !runner::is_transfer(id));
}

void GiveUpSwitch::raise(Level to) {
    int current = level;
    while (current < to && !level.compare_exchange_weak(current, to)) {
    }
}

QStringList RunTarget::selection() const {
    return port.isEmpty() ? QStringList() : QStringList{QStringLiteral("-p"), port};
}

QString RunTarget::file(const QString& base_name) const {
    return folder.isEmpty() ? Files::path_of(base_name) : folder + QLatin1Char('/') + base_name;
}

} // namespace DFU
