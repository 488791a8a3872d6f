#include "dfu/runner.h"

#include "dfu/run_watch.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>

#include <atomic>

namespace DFU {

namespace runner {

namespace {
std::atomic<int> first_wait{30000};
std::atomic<bool> give_up_requested{false};
// How often a waiting runner looks at the give-up request.
constexpr int poll_ms = 50;
} // namespace

void set_first_wait_ms(int ms) { first_wait = ms; }
int first_wait_ms() { return first_wait; }
void give_up() { give_up_requested = true; }
void reset_give_up() { give_up_requested = false; }
bool giving_up() { return give_up_requested; }

} // namespace runner

namespace {

enum class Wait { finished, timed_out, given_up };

// Waits until the child ends, the bound passes (bound < 0: no bound) or the runner is told to
// give up. A child that failed to start counts as not finished, as waitForFinished reports it.
Wait wait_for(QProcess& process, int bound_ms) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (runner::giving_up())
            return Wait::given_up;
        int slice = runner::poll_ms;
        if (bound_ms >= 0)
            slice = static_cast<int>(qMin<qint64>(slice, qMax<qint64>(0, bound_ms - clock.elapsed())));
        if (process.waitForFinished(slice))
            return Wait::finished;
        if (process.state() == QProcess::NotRunning)
            return Wait::timed_out; // never started, or already reaped
        if (bound_ms >= 0 && clock.elapsed() >= bound_ms)
            return Wait::timed_out;
    }
}

} // namespace

CmdResult run_command(CmdID id, const QStringList& extra) {
    QProcess process;
    const Command& command = commands[id];
    const QString program =
        Command::path.isEmpty() ? command.program : Command::path + "/" + command.program;
    const QStringList arguments = command.args + extra;

    // The polled listing runs every cycle: it is not announced.
    const bool quiet = RunWatch::quiet_here();
    if (id != CmdID::list && !quiet)
        qInfo() << "Start " << program << arguments;

    process.start(program, arguments, QIODevice::ReadWrite);

    QByteArray output;
    Wait wait = wait_for(process, runner::first_wait_ms());
    if (wait == Wait::timed_out) {
        output = process.readAllStandardOutput();
        // A quiet run that never started is a repeated poll: its caller logs the failure.
        if (!quiet || process.error() != QProcess::FailedToStart) {
            qInfo() << "waitForFinished(): Process did not finish in time, exit status:"
                    << process.exitStatus() << "and output:" << QString::fromUtf8(output);
            qInfo() << "will wait again, forever";
        }
        wait = wait_for(process, -1);
    }
    if (wait == Wait::given_up && process.state() != QProcess::NotRunning) {
        qInfo() << "Giving up on" << program << arguments << ": killing it";
        process.kill();
        process.waitForFinished(-1); // reap it
    }
    output += process.readAllStandardOutput();

    CmdResult result;
    result.output = QString::fromUtf8(output);
    result.error_output = QString::fromUtf8(process.readAllStandardError());
    result.failed_to_start = process.error() == QProcess::FailedToStart;
    if (result.failed_to_start)
        result.start_error = process.errorString();
    // A program that could not be started is a failure, not an exit code 0.
    const bool exited_normally = process.exitStatus() == QProcess::NormalExit &&
                                 process.error() != QProcess::FailedToStart &&
                                 wait != Wait::given_up;
    result.exit_code = exited_normally ? process.exitCode() : -1;
    if (result.exit_code != 0 && !quiet)
        qInfo() << "Exit with" << result.exit_code << "from" << program << arguments
                << "returned:" << result.output;
    RunWatch::record(result);
    return result;
}

} // namespace DFU
