#pragma once
// The visible log: one line per diagnostic message, with clear, save output and hide log.
// It shows lines; logging::format makes them.

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

    // Appends one line, formatted by logging::format, and nothing else.
    void append_line(const QString& line);

    // Writes the view's plain text as UTF-8; false when the file cannot be opened or written.
    bool write_log(const QString& path) const;
    // save() once the user has chosen: an empty name does nothing, a failure shows a warning box.
    void save_to(const QString& path);
    static QString cannot_save_text(const QString& path);

protected slots:
    void save();

protected:
    void closeEvent(QCloseEvent* event) override;  // hides only
    void keyPressEvent(QKeyEvent* event) override; // keys pass on; Escape does not close

private:
    QTextBrowser* view_;
};
