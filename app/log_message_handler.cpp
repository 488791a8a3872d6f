#include "app/log_message_handler.h"

QPointer<LogWindow> logWindow;

// Reading logWindow from the worker thread is safe because the log window lives until the
// process ends; it is only ever set once, on the GUI thread, before the handler is installed.
void logWindowMessageHandler(QtMsgType type, const QMessageLogContext& context,
                             const QString& msg) {
    if (LogWindow* window = logWindow.data())
        window->post_message(type, context, msg);
}
