#include "dfu/runner.h"

#include "dfu/child_environment.h"
#include "dfu/progress_parser.h"
#include "dfu/run_watch.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>

#include <atomic>

namespace DFU {

namespace runner {

namespace {
std::atomic<int> first_wait{30000};
GiveUpSwitch process_wide;
// How often a waiting runner looks at the give-up requests.
constexpr int poll_ms = 50;
} // namespace

void set_first_wait_ms(int ms) { first_wait = ms; }
int first_wait_ms() { return first_wait; }
bool is_transfer(CmdID id) { return id == CmdID::download_FW || id == CmdID::upload_FW; }
void give_up_short_runs() { process_wide.give_up_short_runs(); }
void give_up() { process_wide.give_up(); }
void reset_give_up() { process_wide.reset(); }
bool giving_up() { return process_wide.giving_up(); }

namespace {
// Whether the target's run of `id` is to be given up now.
bool gives_up(const RunTarget& target, CmdID id) {
    return process_wide.gives_up(id) || (target.give_up && target.give_up->gives_up(id));
}
} // namespace

} // namespace runner

namespace {

enum class Wait { finished, timed_out, given_up };

// Standard output as it arrives, taken on the running thread, with its progress updates.
class Output {
public:
    explicit Output(const ProgressCallback& on_progress) : on_progress_(on_progress) {}
    void take(QProcess& process) {
        const QByteArray bytes = process.readAllStandardOutput();
        if (bytes.isEmpty())
            return;
        text_ += bytes;
        if (on_progress_)
            for (const int percent : progress_.feed(bytes))
                on_progress_(percent);
    }
    const QByteArray& text() const { return text_; }

private:
    const ProgressCallback& on_progress_;
    ProgressParser progress_;
    QByteArray text_;
};

// Waits until the child ends, the bound passes (bound < 0: no bound) or the runner is told to
// give up, taking standard output as it comes. A child that failed to start counts as not
// finished, as waitForFinished reports it.
Wait wait_for(QProcess& process, const RunTarget& target, CmdID id, int bound_ms,
              Output& output) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (runner::gives_up(target, id))
            return Wait::given_up;
        int slice = runner::poll_ms;
        if (bound_ms >= 0)
            slice = static_cast<int>(qMin<qint64>(slice, qMax<qint64>(0, bound_ms - clock.elapsed())));
        const bool finished = process.waitForFinished(slice);
        output.take(process);
        if (finished)
            return Wait::finished;
        if (process.state() == QProcess::NotRunning)
            return Wait::timed_out; // never started, or already reaped
        if (bound_ms >= 0 && clock.elapsed() >= bound_ms)
            return Wait::timed_out;
    }
}

// The first, bounded wait, then (after saying so) one without a bound. A run given up is
// killed and reaped; runner::gives_up decides which runs a stop may give up.
Wait wait_to_end(QProcess& process, const RunTarget& target, CmdID id, bool quiet,
                 Output& output) {
    Wait wait = wait_for(process, target, id, runner::first_wait_ms(), output);
    if (wait == Wait::timed_out) {
        // A quiet run that never started is a repeated poll: its caller logs the failure.
        if (!quiet || process.error() != QProcess::FailedToStart) {
            qInfo() << "waitForFinished(): Process did not finish in time, exit status:"
                    << process.exitStatus() << "and output:" << QString::fromUtf8(output.text());
            qInfo() << "will wait again, forever";
        }
        wait = wait_for(process, target, id, -1, output);
    }
    if (wait == Wait::given_up && process.state() != QProcess::NotRunning) {
        qInfo() << "Giving up on" << process.program() << process.arguments() << ": killing it";
        process.kill();
        process.waitForFinished(-1); // reap it
    }
    output.take(process);
    return wait;
}

// What the ended run gave: its output, and its exit code or -1.
CmdResult result_of(QProcess& process, const Output& output, Wait wait) {
    CmdResult result;
    result.output = QString::fromUtf8(output.text());
    result.error_output = QString::fromUtf8(process.readAllStandardError());
    result.failed_to_start = process.error() == QProcess::FailedToStart;
    if (result.failed_to_start)
        result.start_error = process.errorString();
    // A program that could not be started is a failure, not an exit code 0.
    const bool exited_normally = process.exitStatus() == QProcess::NormalExit &&
                                 !result.failed_to_start && wait != Wait::given_up;
    result.exit_code = exited_normally ? process.exitCode() : -1;
    return result;
}

} // namespace

CmdResult run_command(CmdID id, const QStringList& extra, const ProgressCallback& on_progress) {
    return run_command(RunTarget(), id, extra, on_progress);
}

CmdResult run_command(const RunTarget& target, CmdID id, const QStringList& extra,
                      const ProgressCallback& on_progress) {
    QProcess process;
    const Command& command = commands[id];
    const QString program =
        Command::path.isEmpty() ? command.program : Command::path + "/" + command.program;
    // The selection last: the fixed arguments end in options that take the next argument (-U).
    const QStringList arguments = command.args + extra + target.selection();

    // The polled listing runs every cycle: it is not announced.
    const bool quiet = RunWatch::quiet_here();
    if (id != CmdID::list && !quiet)
        qInfo() << "Start " << program << arguments;

    prepare_child_environment(process); // a test hook: see child_environment.h
    process.start(program, arguments, QIODevice::ReadWrite);

    Output output(on_progress);
    const Wait wait = wait_to_end(process, target, id, quiet, output);
    const CmdResult result = result_of(process, output, wait);
    if (result.exit_code != 0 && !quiet)
        qInfo() << "Exit with" << result.exit_code << "from" << program << arguments
                << "returned:" << result.output;
    RunWatch::record(result);
    return result;
}

} // namespace DFU
