#include "gui/log_line.h"

#include <QCoreApplication>

#include <cstdio>

namespace logging {

namespace {

struct Prefixes {
    const char* view;           // translatable template of the view
    const char* standard_error; // fixed word on standard error
};

Prefixes prefixes(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return {QT_TRANSLATE_NOOP("LogWindowDialog", "Debug: %1"), "Debug"};
    case QtInfoMsg:
        return {QT_TRANSLATE_NOOP("LogWindowDialog", "%1"), "Info"};
    case QtWarningMsg:
        return {QT_TRANSLATE_NOOP("LogWindowDialog", "Warning: %1"), "Warning"};
    case QtCriticalMsg:
        return {QT_TRANSLATE_NOOP("LogWindowDialog", "CRITICAL: %1"), "Critical"};
    case QtFatalMsg:
        return {QT_TRANSLATE_NOOP("LogWindowDialog", "FATAL: %1"), "Fatal"};
    }
    return {nullptr, "Info"}; // not a message type: the text alone on the view
}

} // namespace

Line format(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    const Prefixes p = prefixes(type);
    Line line;
    line.view = p.view ? QCoreApplication::translate("LogWindowDialog", p.view).arg(msg) : msg;
    // Release builds of Qt leave file and function null: those print as empty.
    line.standard_error = QByteArray(p.standard_error) + ": " + msg.toLocal8Bit() + " (" +
                          QByteArray(context.file ? context.file : "") + ':' +
                          QByteArray::number(static_cast<unsigned>(context.line)) + ", " +
                          QByteArray(context.function ? context.function : "") + ")\n";
    return line;
}

void write_to_standard_error(const Line& line) {
    // Through the C library's checked (fortified) printf, as the hardened package build wants.
    std::fprintf(stderr, "%.*s", static_cast<int>(line.standard_error.size()),
                 line.standard_error.constData());
    std::fflush(stderr);
}

} // namespace logging
