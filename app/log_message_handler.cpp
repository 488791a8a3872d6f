#include "app/log_message_handler.h"

#include "gui/log_window_dialog.h"

#include <QCoreApplication>

#include <cstdio>

QPointer<LogWindow> logWindow;

// Reading logWindow from the worker thread is safe because the log window lives until the
// process ends; it is only ever set once, on the GUI thread, before the handler is installed.
void logWindowMessageHandler(QtMsgType type, const QMessageLogContext& context,
                             const QString& msg) {
    LogWindow* window = logWindow.data();
    if (!window)
        return;
    // Standard error gets the line now, from this thread: after the event loop has ended (the
    // worker finishing a download during shut-down) no queued call is delivered any more, and
    // after a fatal message Qt aborts as soon as this returns. One call per line, so lines of
    // two threads never mix; through the C library's checked (fortified) printf.
    const QByteArray line = LogWindowDialog::stderr_line(type, context, msg);
    std::fprintf(stderr, "%.*s", static_cast<int>(line.size()), line.constData());
    std::fflush(stderr);
    // Once the application object is gone no widget may be touched; the line is written.
    if (QCoreApplication::instance())
        window->show_message(type, msg);
}
