#include "gui/log_window_dialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextStream>
#include <QVBoxLayout>

LogWindowDialog::LogWindowDialog(QWidget* parent) : QDialog(parent) {
    auto* layout = new QVBoxLayout;
    setLayout(layout);
    view_ = new QTextBrowser(this);
    view_->document()->setMaximumBlockCount(max_lines); // one block per line
    layout->addWidget(view_);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    buttons->addStretch(10); // the buttons sit at the right

    auto* clear = new QPushButton(QStringLiteral("clear"), this);
    buttons->addWidget(clear);
    connect(clear, &QPushButton::clicked, view_, &QTextBrowser::clear);

    auto* save_output = new QPushButton(QStringLiteral("save output"), this);
    buttons->addWidget(save_output);
    connect(save_output, &QPushButton::clicked, this, &LogWindowDialog::save);

    auto* hide_log = new QPushButton(QStringLiteral("hide log"), this);
    buttons->addWidget(hide_log);
    connect(hide_log, &QPushButton::clicked, this, [this] { hide(); });

    resize(600, 400);
}

void LogWindowDialog::append_line(const QString& line) {
    view_->append(line);
}

bool LogWindowDialog::write_log(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&file);
    // Whatever the locale, messages with non-ASCII characters are saved intact.
    out.setCodec("UTF-8");
    out << view_->toPlainText();
    out.flush();
    const bool written = out.status() == QTextStream::Ok && file.error() == QFileDevice::NoError;
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

QString LogWindowDialog::cannot_save_text(const QString& path) {
    return tr("<nobr>File '%1'<br/>cannot be opened for writing.<br/><br/>The log output could "
              "<b>not</b> be saved!</nobr>")
        .arg(path.toHtmlEscaped());
}

void LogWindowDialog::save_to(const QString& path) {
    if (path.isEmpty())
        return;
    if (!write_log(path))
        QMessageBox::warning(this, tr("Error"), cannot_save_text(path), QMessageBox::Ok);
}

void LogWindowDialog::save() {
    const QString name = QFileDialog::getSaveFileName(this, tr("Save Log Output"),
                                                      tr("%1/logfile.txt").arg(QDir::homePath()),
                                                      tr("Text Files (*.txt);;All Files (*)"));
    save_to(name);
}

void LogWindowDialog::closeEvent(QCloseEvent* event) {
    event->accept();
}

void LogWindowDialog::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}
