#pragma once
// Watching the dfu-util runs of one thread for a while: the caller learns more of a run than
// an exit code, and may keep the runner from logging runs that repeat on every poll.

#include "dfu/runner.h"

#include <optional>

namespace DFU {

// Lives on the stack of the thread whose runs it watches; watches may nest.
class RunWatch {
public:
    enum class Logging {
        as_usual,
        quiet, // the runner writes neither the start nor the failure of these runs
    };
    explicit RunWatch(Logging logging = Logging::as_usual);
    ~RunWatch();
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

    // The result of the last run made on this thread while this watch lived.
    const std::optional<CmdResult>& last() const { return last_; }

    // For the runner: whether a watch on the calling thread asks for quiet runs.
    static bool quiet_here();
    // For the runner: hands a run's result to every watch of the calling thread.
    static void record(const CmdResult& result);

private:
    RunWatch* const outer_;
    const Logging logging_;
    std::optional<CmdResult> last_;
};

} // namespace DFU
