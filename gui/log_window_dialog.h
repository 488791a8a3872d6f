#pragma once
// The visible log: one line per diagnostic message, with clear, save output and hide log.

#include <QDialog>
#include <QString>

class QTextBrowser;

class LogWindowDialog : public QDialog {
    Q_OBJECT
public:
    explicit LogWindowDialog(QWidget* parent = nullptr);

    QTextBrowser* view() const { return view_; }

    // The view keeps the last lines only, so that a long session does not grow without limit;
    // "save output" writes what it holds.
    static constexpr int max_lines = 20000;

    // Appends the message's view line (see view_line) and nothing else.
    void append_message(QtMsgType type, const QString& msg);

    // The line the view shows for a message, e.g. "Warning: text"; info messages have no prefix.
    static QString view_line(QtMsgType type, const QString& msg);
    // The line written to standard error, e.g. "Info: text (file.cpp:12, function)\n".
    static QByteArray stderr_line(QtMsgType type, const QMessageLogContext& context,
                                  const QString& msg);

    // Writes the view's plain text as UTF-8; false when the file cannot be opened or written.
    bool write_log(const QString& path) const;
    // save() once the user has chosen: an empty name does nothing, a failure shows a warning box.
    void save_to(const QString& path);
    static QString cannot_save_text(const QString& path);

public slots:
    // Appends the message to the view and writes it to standard error; aborts after a fatal one.
    void outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& msg);

protected slots:
    void save();

protected:
    void closeEvent(QCloseEvent* event) override; // hides only
    void keyPressEvent(QKeyEvent* event) override; // keys pass on; Escape does not close

private:
    QTextBrowser* view_;
};
