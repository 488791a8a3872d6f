#pragma once
// A signal transition that fires only when its guard, asked when the signal is processed,
// agrees.

#include <QSignalTransition>

#include <functional>

class GuardedTransition : public QSignalTransition {
public:
    // Carries its own context (a machine's announced unit), so that machines never share one.
    using Guard = std::function<bool()>;

    GuardedTransition(const QObject* sender, const char* signal, Guard guard);

protected:
    bool eventTest(QEvent* event) override;

private:
    Guard guard;
};
