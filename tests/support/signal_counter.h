#pragma once
// Counts the emissions of a signal that another thread emits. QSignalSpy records them in a list
// from the emitting thread while the test reads it from its own, which is a data race; this
// counter is an atomic, incremented where the signal is emitted.

#include <QObject>

#include <atomic>

class SignalCounter {
public:
    template <typename Sender, typename Signal>
    SignalCounter(const Sender* sender, Signal signal) {
        QObject::connect(sender, signal, &context_, [this] { ++count_; }, Qt::DirectConnection);
    }
    SignalCounter(const SignalCounter&) = delete;
    SignalCounter& operator=(const SignalCounter&) = delete;

    int count() const { return count_; }

private:
    std::atomic<int> count_{0};
    QObject context_; // destroyed first: no emission reaches the counter after it
};
