#include "gui/history_model.h"

#include <algorithm>

namespace {

// A row still in progress has no end yet: its start stands in for it.
QString time_of(const History::UpgradeRow& row) {
    const QDateTime& time = row.ended_at.isValid() ? row.ended_at : row.started_at;
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString cell_text(const History::UpgradeRow& row, int column, const QString& from_to) {
    switch (column) {
    case 0:
        return time_of(row);
    case 1:
        return row.serial;
    case 2:
        return row.port;
    case 3:
        return row.product;
    case 4:
        return from_to.arg(row.revision_before, row.revision_after);
    case 5:
        return row.outcome;
    case 6:
        return row.firmware_key_id;
    case 7:
        return row.cause;
    default:
        return QString();
    }
}

} // namespace

HistoryModel::HistoryModel(QStringList headers, QString from_to, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)), from_to_(std::move(from_to)) {}

int HistoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(rows_.size());
}

int HistoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : headers_.size();
}

QVariant HistoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    return cell_text(rows_[size_t(index.row())], index.column(), from_to_);
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return headers_.value(section);
}

bool HistoryModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !awaiting_ && total_ > int(rows_.size());
}

void HistoryModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent))
        ask(int(rows_.size()), page_size);
}

void HistoryModel::clear() {
    beginResetModel();
    rows_.clear();
    total_ = -1;
    shown_filter_.clear();
    awaiting_ = false; // whatever is still on its way is dropped
    endResetModel();
}

void HistoryModel::ask_first_page(const QString& serial_filter) {
    asked_filter_ = serial_filter;
    ask(0, page_size);
}

void HistoryModel::ask_again() {
    ask(0, std::max(page_size, int(rows_.size())));
}

void HistoryModel::ask(int offset, int count) {
    awaiting_ = true;
    emit rows_wanted({++latest_request_, asked_filter_, offset, count});
}

HistoryModel::Taken HistoryModel::take(const History::RowPage& page) {
    if (!awaiting_ || page.request != latest_request_)
        return {};
    awaiting_ = false;
    if (page.offset != 0) {
        append(page);
        return {};
    }
    Taken taken;
    taken.refilled = true;
    taken.same_filter = total_ >= 0 && shown_filter_ == asked_filter_;
    // The record only grows, newest first: rows that joined since the last answer lie above.
    if (taken.same_filter)
        taken.added_above = std::max(0, page.total - total_);
    beginResetModel();
    rows_ = page.rows;
    total_ = std::max(page.total, int(rows_.size()));
    shown_filter_ = asked_filter_;
    endResetModel();
    return taken;
}

void HistoryModel::append(const History::RowPage& page) {
    if (page.offset != int(rows_.size()))
        return; // not the page after those loaded
    if (page.rows.empty()) {
        total_ = int(rows_.size()); // the asker has no more, whatever it counted
        return;
    }
    const int first = int(rows_.size());
    beginInsertRows(QModelIndex(), first, first + int(page.rows.size()) - 1);
    rows_.insert(rows_.end(), page.rows.begin(), page.rows.end());
    endInsertRows();
    total_ = std::max(page.total, int(rows_.size()));
}
