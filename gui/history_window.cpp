#include "gui/history_window.h"

#include "gui/place_beside.h"
#include "history/csv.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <iterator>

HistoryWindow::HistoryWindow(const Settings::GUI& texts, bool, QWidget* parent)
    : QDialog(parent), texts_(texts) {
    setWindowTitle(text("history_title"));
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    filter_ = new QLineEdit(this);
    filter_->setPlaceholderText(text("history_filter"));
    filter_->setClearButtonEnabled(true);
    bar->addWidget(filter_, 10);
    auto* export_button = new QPushButton(text("history_export"), this);
    bar->addWidget(export_button);
    table_ = new QTableWidget(this);
    layout->addWidget(table_);
    build_table();
    connect(filter_, &QLineEdit::textChanged, this, &HistoryWindow::refresh);
    connect(export_button, &QPushButton::clicked, this, &HistoryWindow::export_csv);
    resize(760, 400);
}

QString HistoryWindow::text(const char* id) const {
    return texts_.text(QLatin1String(id));
}

void HistoryWindow::build_table() {
    const QStringList headers = text("history_headers").split(QLatin1Char('|'));
    table_->setColumnCount(headers.size());
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
}

void HistoryWindow::reload() {
    if (isVisible())
        refresh();
}

void HistoryWindow::refresh() {
    emit rows_wanted({++request_, filter_->text().trimmed(), 0, 1000});
}

void HistoryWindow::take_export_result(const QString&, const QString&) {}

void HistoryWindow::take_rows(const History::RowPage& page) {
    if (page.request != request_)
        return;
    shown_ = page.rows;
    table_->setRowCount(static_cast<int>(shown_.size()));
    const QString from_to = text("history_from_to");
    for (int i = 0; i < table_->rowCount(); ++i) {
        const History::UpgradeRow& r = shown_[static_cast<size_t>(i)];
        const QString cells[] = {
            r.ended_at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            r.serial,
            r.product,
            from_to.arg(r.revision_before, r.revision_after),
            r.outcome,
            r.cause};
        for (int c = 0; c < table_->columnCount() && c < int(std::size(cells)); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            item->setToolTip(cells[c]);
            table_->setItem(i, c, item);
        }
    }
    table_->resizeColumnsToContents();
}

void HistoryWindow::toggle_visibility(QMainWindow* main_window) {
    if (isVisible()) {
        hide();
        return;
    }
    refresh();
    show();
    if (main_window)
        place_beside(this, main_window);
}

bool HistoryWindow::export_to(const QString& path) {
    QString why;
    if (History::write_csv(path, shown_, &why))
        return true;
    QMessageBox::warning(this, text("history_export"),
                         text("history_export_failed").arg(path, why));
    return false;
}

void HistoryWindow::export_csv() {
    const QString path = QFileDialog::getSaveFileName(
        this, text("history_export"), QStringLiteral("history.csv"), text("history_export_files"));
    if (!path.isEmpty())
        export_to(path);
}
