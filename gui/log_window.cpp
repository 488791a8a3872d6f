#include "gui/log_window.h"

#include "gui/log_window_dialog.h"
#include "gui/place_beside.h"

#include <QThread>

LogWindow::LogWindow(QObject* parent) : QObject(parent), dialog_(new LogWindowDialog) {}

LogWindow::~LogWindow() {
    delete dialog_;
}

void LogWindow::show_line(const QString& line) {
    if (QThread::currentThread() == thread()) {
        dialog_->append_line(line);
        return;
    }
    // Hand-over to the GUI thread: a copy of the line by queued call, delivered in posting
    // order. The dialog is deleted only with this object, which is the call's context.
    QMetaObject::invokeMethod(
        this, [this, line] { dialog_->append_line(line); }, Qt::QueuedConnection);
}

void LogWindow::toggle_visibility(QMainWindow* mainWindow) {
    if (dialog_->isVisible()) {
        dialog_->hide();
        return;
    }
    dialog_->show();
    if (!mainWindow)
        return;
    place_beside(dialog_, mainWindow);
}
