#pragma once
// Counts the emissions of a signal that another thread emits. QSignalSpy records them in a list
// from the emitting thread while the test reads it from its own, which is a data race; this
// counter is an atomic, incremented where the signal is emitted.

#include <QObject>

#include <atomic>
#include <memory>

class SignalCounter {
public:
    template <typename Sender, typename Signal>
    SignalCounter(const Sender* sender, Signal signal) {
        // The slot owns its share of the count: an emission already under way in the sender's
        // thread when the counter goes out of scope increments memory that is still alive.
        QObject::connect(
            sender, signal, &context_, [count = count_] { ++*count; }, Qt::DirectConnection);
    }
    SignalCounter(const SignalCounter&) = delete;
    SignalCounter& operator=(const SignalCounter&) = delete;

    int count() const { return *count_; }

private:
    std::shared_ptr<std::atomic<int>> count_ = std::make_shared<std::atomic<int>>(0);
    QObject context_; // destroyed first: no new emission reaches the counter after it
};
