#pragma once
// The process-wide message handler that feeds the log window.

#include "gui/log_window.h"

#include <QPointer>
#include <QtGlobal>

// The one log window; null before it is created.
extern QPointer<LogWindow> logWindow;

// Hands every message to logWindow, from whichever thread raised it; does nothing while
// logWindow is null. Never calls the previously installed handler.
void logWindowMessageHandler(QtMsgType type, const QMessageLogContext& context,
                             const QString& msg);
