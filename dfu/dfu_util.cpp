#include "dfu/dfu_util.h"

#include "dfu/runner.h"
#include "files/files.h"
#include "files/support_misc.h"

#include <QDebug>

namespace DFU {
namespace dfu_util {

QString basename() { return Files::dfu_util_executable_fileName; }

QString full_path() {
    return QStringLiteral("%1/%2").arg(Files::external_dir.path(), Files::dfu_util_executable_fileName);
}

bool execution_test() {
    const CmdResult result = run_command(CmdID::version, {});
    QString output = result.output;
    if (support_misc::compiled_for_platform(support_misc::Platform::windows))
        output = support_misc::remove_carriage_returns(output, QChar(13));
    const bool equal = output == expected_output_of_execution_test;
    qInfo() << "Result of execution test: status was" << (result.exit_code != 0 ? "bad" : "ok")
            << "and output:" << (equal ? QStringLiteral("as expected") : output);
    return result.exit_code == 0 && equal;
}

} // namespace dfu_util
} // namespace DFU
