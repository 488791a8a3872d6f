#include "workflow/guarded_transition.h"

GuardedTransition::GuardedTransition(const QObject* sender, const char* signal, Guard guard_)
    : QSignalTransition(sender, signal), guard(std::move(guard_)) {}

bool GuardedTransition::eventTest(QEvent* event) {
    // The guard is asked only for the signal this transition listens to.
    return QSignalTransition::eventTest(event) && guard && guard();
}
