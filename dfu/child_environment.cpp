#include "dfu/child_environment.h"

#include <QProcessEnvironment>

namespace DFU {

const char dfu_util_preload_variable[] = "ORVANTA_DFU_UTIL_PRELOAD";

void prepare_child_environment(QProcess& process) {
    const QString preload = qEnvironmentVariable(dfu_util_preload_variable);
    if (preload.isEmpty())
        return;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString inherited = environment.value(QStringLiteral("LD_PRELOAD"));
    // ld.so takes a list separated by blanks or colons; the hook's library comes first.
    environment.insert(QStringLiteral("LD_PRELOAD"),
                       inherited.isEmpty() ? preload : preload + QLatin1Char(':') + inherited);
    process.setProcessEnvironment(environment);
}

} // namespace DFU
