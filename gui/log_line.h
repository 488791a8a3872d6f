#pragma once
// The one formatter of diagnostic messages: each message as the log window's view shows it and
// as standard error receives it.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace logging {

struct Line {
    QString view;              // e.g. "Warning: text"; info messages have no prefix
    QByteArray standard_error; // e.g. "Info: text (file.cpp:12, function)\n", local 8-bit
};

// Callable from any thread; the view's templates are translated in the "LogWindowDialog" context.
Line format(QtMsgType type, const QMessageLogContext& context, const QString& msg);

// One write per line, flushed, so that lines of two threads never mix and nothing waits.
void write_to_standard_error(const Line& line);

} // namespace logging
