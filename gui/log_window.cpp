#include "gui/log_window.h"

#include "gui/log_window_dialog.h"

#include <QScreen>

#include <QByteArray>
#include <QThread>

#include <cstdio>

namespace {

// A message as it crosses threads: the context's strings may not outlive the call that
// raised it, and QtMsgType and QMessageLogContext are not registered meta-types.
struct MessageRecord {
    QtMsgType type;
    QString msg;
    QByteArray file;
    int line;
    QByteArray function;
    QByteArray category;
};

} // namespace

LogWindow::LogWindow(QObject* parent) : QObject(parent), dialog_(new LogWindowDialog) {
    connect(this, &LogWindow::sendMessage, dialog_, &LogWindowDialog::outputMessage);
}

LogWindow::~LogWindow() {
    delete dialog_;
}

void LogWindow::post_message(QtMsgType type, const QMessageLogContext& context,
                             const QString& msg) {
    if (QThread::currentThread() == thread()) {
        emit sendMessage(type, context, msg);
        return;
    }
    if (type == QtFatalMsg) {
        // Qt aborts the process as soon as the handler returns: a queued line would never be
        // written, so standard error gets it now.
        const QByteArray line = LogWindowDialog::stderr_line(type, context, msg);
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
        return;
    }
    // Hand-over to the GUI thread: a copy by queued call, delivered in posting order.
    MessageRecord record{type,         msg, QByteArray(context.file), context.line,
                         QByteArray(context.function), QByteArray(context.category)};
    QMetaObject::invokeMethod(
        this,
        [this, record] {
            const QMessageLogContext copy(record.file.constData(), record.line,
                                          record.function.constData(),
                                          record.category.constData());
            emit sendMessage(record.type, copy, record.msg);
        },
        Qt::QueuedConnection);
}

void LogWindow::outputMessage(QtMsgType type, const QMessageLogContext& context,
                              const QString& msg) {
    emit sendMessage(type, context, msg);
}

void LogWindow::toggle_visibility(QMainWindow* mainWindow) {
    if (dialog_->isVisible()) {
        dialog_->hide();
        return;
    }
    dialog_->show();
    if (!mainWindow)
        return;
    // Against the main window's right edge; but never past the screen's right edge, where
    // its buttons could not be reached (a 1280-pixel screen is narrower than both windows).
    int x = mainWindow->geometry().right();
    if (const QScreen* screen = mainWindow->screen()) {
        const QRect available = screen->availableGeometry();
        x = qMax(available.left(), qMin(x, available.right() + 1 - dialog_->frameGeometry().width()));
    }
    dialog_->move(x, mainWindow->geometry().top());
}
