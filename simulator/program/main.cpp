// The simulator program: dfu-util 0.9 and simulated Orvanta units in the STM32F4 ROM bootloader.
//
//   dfu-util_simulator.sh --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]
//     NAME is version, list, upload_OTP, upload_FW, download_FW or setup_prepared_config. For
//     all but the last, the dfu-util arguments decide what happens; setup_prepared_config
//     switches to the prepared configuration named by its last argument. Without
//     --fast-progress a 400 kB download takes about 25 s, as on a unit.
//   orvanta_dfu_simulator [dfu-util arguments...]   with FAKE_DFU_UTIL_STATE set
//     the tests' fake dfu-util (fake_state.h).

#include "simulator/program/command_line.h"
#include "simulator/program/commands.h"
#include "simulator/program/fake_state.h"
#include "simulator/program/output.h"
#include "simulator/program/prepared_configurations.h"
#include "simulator/program/simulator_state.h"

#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>

namespace simulator {
namespace {

const QStringList command_names = {"version", "list", "upload_OTP", "upload_FW", "download_FW"};

int set_up_configuration(const QStringList& args) {
    const QString known = configuration_names().join(QLatin1Char(' '));
    if (args.isEmpty())
        usage_error(QStringLiteral("setup_prepared_config needs a configuration name, one of: ") +
                    known);
    SimulatorState state(false);
    state.lock();
    if (!state.set_up(args.last()))
        usage_error(
            QStringLiteral("unknown configuration \"%1\"; known are: %2").arg(args.last(), known));
    say(QStringLiteral("Simulated configuration: ") + args.last());
    return 0;
}

[[noreturn]] void usage() {
    usage_error(QStringLiteral(
                    "usage: %1 --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]")
                    .arg(program_name()));
}

int run_simulator(QStringList args) {
    if (args.size() < 2)
        usage();
    const QString command = args[1];
    args = args.mid(2);
    const bool fast = !args.isEmpty() && args.first() == QLatin1String("--fast-progress");
    if (fast)
        args.removeFirst();
    if (command == QLatin1String("setup_prepared_config"))
        return set_up_configuration(args);
    if (!command_names.contains(command))
        usage_error(QStringLiteral("unknown command name \"%1\"").arg(command));

    const Options options = parse_options(args);
    int code = 0;
    if (!start(options, &code))
        return code;
    SimulatorState state(fast);
    state.lock();
    state.ensure_configuration();
    return run(options, state);
}

int run_fake(const QString& dir, const QStringList& args) {
    FakeState state(dir);
    state.record_run(args);
    const Options options = parse_options(args);
    int code = 0;
    return start(options, &code) ? run(options, state) : code;
}

} // namespace
} // namespace simulator

int main(int argc, char** argv) {
    using namespace simulator;
    ::umask(077);
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    set_program_name(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
    try {
        if (!args.isEmpty() && args.first() == QLatin1String("--dfu-util-command"))
            return run_simulator(args);
        if (qEnvironmentVariableIsSet("FAKE_DFU_UTIL_STATE"))
            return run_fake(qEnvironmentVariable("FAKE_DFU_UTIL_STATE"), args);
        usage();
    } catch (const Exit& exit) {
        return exit.code;
    }
}
