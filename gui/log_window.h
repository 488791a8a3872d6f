#pragma once
// The target of the process-wide message handler; owns the log dialog.

#include <QMainWindow>
#include <QObject>
#include <QString>

class LogWindowDialog;

class LogWindow : public QObject {
    Q_OBJECT
public:
    explicit LogWindow(QObject* parent = nullptr);
    ~LogWindow() override;

    LogWindowDialog* dialog() const { return dialog_; }

    // Has the view show one line (see logging::format). Callable from any thread: in the
    // window's own thread it is appended at once; from another thread it is copied and
    // appended by a queued call, in order.
    void show_line(const QString& line);

public slots:
    // Hides the dialog, or shows it against the right edge of the main window.
    void toggle_visibility(QMainWindow* mainWindow);

private:
    LogWindowDialog* dialog_;
};
