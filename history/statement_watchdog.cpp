#include "history/statement_watchdog.h"

#include <sys/socket.h>

namespace History {

StatementWatchdog::StatementWatchdog(std::chrono::milliseconds bound_)
    : bound(bound_), thread([this] { watch(); }) {}

StatementWatchdog::~StatementWatchdog() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    changed.notify_one();
    thread.join();
}

// The socket and its deadline are handed to the watchdog's thread under the mutex.
void StatementWatchdog::arm(int socket) {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        socket_ = socket;
        deadline = std::chrono::steady_clock::now() + bound;
        fired_ = false;
    }
    changed.notify_one();
}

// Once this returns, the watchdog no longer holds the socket: the caller may close it.
void StatementWatchdog::disarm() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        socket_ = -1;
    }
    changed.notify_one();
}

bool StatementWatchdog::fired() const {
    const std::lock_guard<std::mutex> lock(mutex);
    return fired_;
}

// The watchdog's thread. The shutdown happens under the mutex, so that disarm() cannot return
// (and the socket be closed, its number reused) while it is under way.
void StatementWatchdog::watch() {
    std::unique_lock<std::mutex> lock(mutex);
    while (!ending) {
        if (socket_ < 0) {
            changed.wait(lock);
            continue;
        }
        if (std::chrono::steady_clock::now() < deadline) {
            changed.wait_until(lock, deadline);
            continue; // armed anew, disarmed, ending, or the deadline: looked at again
        }
        ::shutdown(socket_, SHUT_RDWR);
        fired_ = true;
        socket_ = -1;
    }
}

StatementWatchdog::Watch::Watch(StatementWatchdog* watchdog_, int socket)
    : watchdog(socket >= 0 ? watchdog_ : nullptr) {
    if (watchdog)
        watchdog->arm(socket);
}

StatementWatchdog::Watch::~Watch() {
    if (watchdog)
        watchdog->disarm();
}

} // namespace History
