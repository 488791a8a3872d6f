#include "gui/history_window.h"

#include "gui/history_model.h"
#include "gui/place_beside.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int typing_pause_ms = 250;

} // namespace

HistoryWindow::HistoryWindow(const Settings::GUI& texts, bool simulator_record, QWidget* parent)
    : QDialog(parent), texts_(texts) {
    // The signals and slots carry these across threads by queued calls, which need them known.
    qRegisterMetaType<History::RowQuery>();
    qRegisterMetaType<History::RowPage>();
    setWindowTitle(text(simulator_record ? "history_title_simulator" : "history_title"));
    auto* layout = new QVBoxLayout(this);
    build_bar(layout);
    build_table();
    layout->addWidget(table_);
    typing_pause_ = new QTimer(this);
    typing_pause_->setSingleShot(true);
    typing_pause_->setInterval(typing_pause_ms);
    connect(typing_pause_, &QTimer::timeout, this, &HistoryWindow::ask_first_page);
    connect(filter_, &QLineEdit::textChanged, typing_pause_, qOverload<>(&QTimer::start));
    connect(filter_, &QLineEdit::returnPressed, this, &HistoryWindow::ask_first_page);
    resize(760, 400);
}

QString HistoryWindow::text(const char* id) const {
    return texts_.text(QLatin1String(id));
}

void HistoryWindow::build_bar(QVBoxLayout* layout) {
    auto* bar = bar_ = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    filter_ = new QLineEdit(this);
    filter_->setPlaceholderText(text("history_filter"));
    filter_->setClearButtonEnabled(true);
    bar->addWidget(filter_, 10);
    export_ = new QPushButton(text("history_export"), this);
    export_->setAutoDefault(false); // Enter in the filter field asks, it does not export
    bar->addWidget(export_);
    connect(export_, &QPushButton::clicked, this, &HistoryWindow::export_csv);
    unread_ = new QLabel(this);
    unread_->setWordWrap(true);
    unread_->hide();
    layout->addWidget(unread_);
}

void HistoryWindow::offer_fleet() {
    if (fleet_)
        return;
    fleet_ = new QCheckBox(text("history_fleet"), this);
    bar_->insertWidget(1, fleet_);
    connect(fleet_, &QCheckBox::toggled, this, &HistoryWindow::show_fleet);
}

// Another record: the table empties and asks it for its first page.
void HistoryWindow::show_fleet(bool fleet) {
    export_->setEnabled(!fleet);
    model_->clear();
    ask_first_page();
}

void HistoryWindow::build_table() {
    model_ = new HistoryModel(text("history_headers").split(QLatin1Char('|')),
                              text("history_from_to"), this);
    connect(model_, &HistoryModel::rows_wanted, this, [this](History::RowQuery query) {
        query.fleet = fleet_ && fleet_->isChecked();
        emit rows_wanted(query);
    });
    table_ = new QTableView(this);
    table_->setModel(model_);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem); // reload moves by rows
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Rows of one height: nothing measures rows that are not shown.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->horizontalHeader()->setStretchLastSection(true);
}

QString HistoryWindow::typed_filter() const {
    return filter_->text().trimmed();
}

void HistoryWindow::ask_first_page() {
    typing_pause_->stop();
    if (isVisible()) // opening asks anyway
        model_->ask_first_page(typed_filter());
}

void HistoryWindow::set_filter(const QString& serial_filter) {
    filter_->setText(serial_filter);
    ask_first_page();
}

void HistoryWindow::take_rows(const History::RowPage& page) {
    if (page.request == model_->latest_request()) {
        unread_->setText(page.why.isEmpty() ? QString() : text("history_unread").arg(page.why));
        unread_->setVisible(!page.why.isEmpty());
    }
    QScrollBar* bar = table_->verticalScrollBar();
    const int top = bar->value();
    const HistoryModel::Taken taken = model_->take(page);
    if (!taken.refilled)
        return;
    if (!taken.same_filter) {
        table_->scrollToTop();
        table_->resizeColumnsToContents(); // to the rows in view only
        return;
    }
    // At the top the newest rows come into view; lower down, the rows in view stay there.
    if (top > 0)
        bar->setValue(top + taken.added_above);
}

void HistoryWindow::reload() {
    if (isVisible())
        model_->ask_again();
}

void HistoryWindow::toggle_visibility(QMainWindow* main_window) {
    if (isVisible()) {
        hide();
        return;
    }
    model_->clear();
    show();
    if (main_window)
        place_beside(this, main_window);
    ask_first_page();
}

void HistoryWindow::export_to(const QString& path) {
    if (typing_pause_->isActive())
        ask_first_page(); // the table shows what is exported
    emit export_wanted(path, typed_filter());
}

void HistoryWindow::take_export_result(const QString& path, const QString& why) {
    if (why.isEmpty())
        return;
    // Not exec(): the box waits for its OK without a loop of its own.
    auto* box =
        new QMessageBox(QMessageBox::Warning, text("history_export"),
                        text("history_export_failed").arg(path, why), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void HistoryWindow::export_csv() {
    const QString path = QFileDialog::getSaveFileName(
        this, text("history_export"), QStringLiteral("history.csv"), text("history_export_files"));
    if (!path.isEmpty())
        export_to(path);
}
