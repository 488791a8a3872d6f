#include "app/log_message_handler.h"

#include "gui/log_line.h"

#include <QCoreApplication>

QPointer<LogWindow> logWindow;

// Reading logWindow from the worker thread is safe because the log window lives until the
// process ends; it is only ever set once, on the GUI thread, before the handler is installed.
void logWindowMessageHandler(QtMsgType type, const QMessageLogContext& context,
                             const QString& msg) {
    LogWindow* window = logWindow.data();
    if (!window)
        return;
    const logging::Line line = logging::format(type, context, msg);
    // Standard error gets the line now, from this thread: after the event loop has ended (the
    // worker finishing a download during shut-down) no queued call is delivered any more, and
    // after a fatal message Qt aborts as soon as this returns.
    logging::write_to_standard_error(line);
    // Once the application object is gone no widget may be touched; the line is written.
    if (QCoreApplication::instance())
        window->show_line(line.view);
}
