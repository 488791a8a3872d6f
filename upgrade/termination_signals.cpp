#include "upgrade/termination_signals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signal_pipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop picks the byte up.
void on_signal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t written = ::write(signal_pipe[0], &byte, 1);
}

} // namespace

void quit_event_loop_on_termination_signals() {
    on_termination_signals([](int number) {
        qInfo() << "Received signal" << number << "- ending the event loop";
        QCoreApplication::quit();
    });
}

void on_termination_signals(std::function<void(int)> action) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signal_pipe) != 0) {
        qWarning() << "No socket pair for signal handling; Ctrl+C will end the program at once";
        return;
    }
    auto* notifier =
        new QSocketNotifier(signal_pipe[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [action = std::move(action)] {
        char number = 0;
        if (::read(signal_pipe[1], &number, 1) == 1)
            action(int(number));
    });
    struct sigaction handler {};
    handler.sa_handler = on_signal;
    sigemptyset(&handler.sa_mask);
    handler.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &handler, nullptr);
    ::sigaction(SIGTERM, &handler, nullptr);
}
