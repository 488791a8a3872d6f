#include "dfu/run_watch.h"

namespace DFU {

namespace {
// The innermost watch of each thread; only that thread touches it.
thread_local RunWatch* innermost = nullptr;
} // namespace

RunWatch::RunWatch(Logging logging) : outer_(innermost), logging_(logging) {
    innermost = this;
}

RunWatch::~RunWatch() {
    innermost = outer_;
}

bool RunWatch::quiet_here() {
    for (const RunWatch* w = innermost; w; w = w->outer_)
        if (w->logging_ == Logging::quiet)
            return true;
    return false;
}

void RunWatch::record(const CmdResult& result) {
    for (RunWatch* w = innermost; w; w = w->outer_)
        w->last_ = result;
}

} // namespace DFU
