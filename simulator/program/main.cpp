// The simulator program: dfu-util 0.9 and simulated Orvanta units in the STM32F4 ROM bootloader.
//   dfu-util_simulator.sh --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]
// NAME is version, list, upload_OTP, upload_FW, download_FW or setup_prepared_config. For all
// but the last, the dfu-util arguments decide what happens; setup_prepared_config switches to
// the prepared configuration named by its last argument; the units live in state_dir(). Without
// --fast-progress a 400 kB download takes about 25 s, as on a unit. Started with dfu-util's
// arguments alone and FAKE_DFU_UTIL_STATE set, it is the tests' fake dfu-util
// (tests/support/fake_dfu_util.h), with the units that a test sets up there.

#include "simulator/program/commands.h"
#include "simulator/program/output.h"
#include "simulator/program/prepared_configurations.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace simulator {
namespace {

QString state_dir() {
    const QString named = qEnvironmentVariable("ORVANTA_SIMULATOR_STATE_DIR");
    if (!named.isEmpty())
        return named;
    const QString base = qEnvironmentVariable("XDG_STATE_HOME");
    return (base.isEmpty() ? qEnvironmentVariable("HOME") + "/.local/state" : base) +
           "/orvanta-dfu-simulator";
}

// dfu-util with these arguments on these units.
int dfu_util(const QStringList& args, Units& units, bool simulator) {
    const Options options = parse_options(args);
    int code = 0;
    if (!start(options, &code))
        return code;
    if (simulator)
        units.ensure_configuration();
    return run(options, units);
}

int run_simulator(QStringList args) {
    if (args.size() < 2 || args[0] != "--dfu-util-command")
        usage_error("usage: " + program_name +
                    " --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]");
    const QString command = args[1];
    args = args.mid(2);
    const bool fast = !args.isEmpty() && args.first() == "--fast-progress";
    if (fast)
        args.removeFirst();
    Units units(state_dir(), fast, true);
    if (command != "setup_prepared_config") {
        if (!QStringList{"version", "list", "upload_OTP", "upload_FW", "download_FW"}.contains(
                command))
            usage_error("unknown command name \"" + command + '"');
        return dfu_util(args, units, true);
    }
    const QString known = configuration_names().join(' ');
    if (args.isEmpty())
        usage_error("setup_prepared_config needs a configuration name, one of: " + known);
    if (!units.set_up(args.last()))
        usage_error("unknown configuration \"" + args.last() + "\"; known are: " + known);
    say("Simulated configuration: " + args.last());
    return 0;
}

int run_fake(const QString& dir, const QStringList& args) {
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        err("fake dfu-util: FAKE_DFU_UTIL_STATE does not name a directory\n");
        return ex_software;
    }
    QFile runs(dir + "/runs"); // one write: a reader never sees half a line
    if (runs.open(QIODevice::Append | QIODevice::Unbuffered))
        runs.write(args.join(QChar(0x1F)).toUtf8() + '\n');
    Units units(dir, true, false);
    return dfu_util(args, units, false);
}

} // namespace
} // namespace simulator

int main(int argc, char** argv) {
    using namespace simulator;
    ::umask(077);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    program_name = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
    try {
        if (args.value(0) != "--dfu-util-command" &&
            qEnvironmentVariableIsSet("FAKE_DFU_UTIL_STATE"))
            return run_fake(qEnvironmentVariable("FAKE_DFU_UTIL_STATE"), args);
        return run_simulator(args);
    } catch (const Exit& exit) {
        return exit.code;
    }
}
