#pragma once
// The process-wide message handler of the log window.

#include "gui/log_window.h"

#include <QPointer>
#include <QtGlobal>

// The one log window; null before it is created.
extern QPointer<LogWindow> logWindow;

// While logWindow exists: formats the message once (logging::format), writes it to standard
// error at once, in the thread that raised it, and has the log window's view show it (see
// LogWindow::show_line). Does nothing while logWindow is null. Never calls the previously
// installed handler.
void logWindowMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
