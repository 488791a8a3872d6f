#pragma once
// A bound of the bench's own on each statement to the central record, enforced from outside the
// waiting call. A backend that is stopped (a dead disk, a frozen volume) never answers, while
// its kernel still acknowledges every packet and keep-alive, and it serves no cancel request:
// only shutting the connection's socket down makes the waiting libpq call fail at once.
//
// Two threads: the connection's (which arms and disarms around each statement, and alone owns
// the connection and the descriptor) and the watchdog's own (which waits for the deadline and
// may only shut the socket down: never close it, never touch the connection).

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace History {

class StatementWatchdog {
public:
    explicit StatementWatchdog(std::chrono::milliseconds bound);
    ~StatementWatchdog(); // ends and joins its thread
    StatementWatchdog(const StatementWatchdog&) = delete;
    StatementWatchdog& operator=(const StatementWatchdog&) = delete;

    // From the connection's thread. `socket` must stay open until disarm() has returned: the
    // watchdog shuts it down when it is still armed `bound` after this call.
    void arm(int socket);
    void disarm();
    // Whether the socket was shut down since the last arm(); a connection it fired on is dead.
    bool fired() const;

    // Armed for its lifetime, when there is a watchdog and a socket.
    class Watch {
    public:
        Watch(StatementWatchdog* watchdog, int socket);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;

    private:
        StatementWatchdog* const watchdog;
    };

private:
    void watch();

    const std::chrono::milliseconds bound;
    // The hand-over between the two threads: every member below, up to `thread`, is read and
    // written under `mutex` only; `changed` wakes the watchdog on each arm, disarm and the end.
    mutable std::mutex mutex;
    std::condition_variable changed;
    int socket_ = -1; // armed while not -1
    std::chrono::steady_clock::time_point deadline;
    bool fired_ = false;
    bool ending = false;
    std::thread thread; // last: it starts once the members above are made
};

} // namespace History
