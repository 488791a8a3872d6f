#pragma once
// A signal transition that fires only when its guard, asked when the signal is processed,
// agrees.

#include <QSignalTransition>

class GuardedTransition : public QSignalTransition {
public:
    using Guard = bool (*)();

    GuardedTransition(const QObject* sender, const char* signal, Guard guard);

protected:
    bool eventTest(QEvent* event) override;

private:
    Guard guard;
};
