#pragma once
// The record's rows as the history window's table sees them: only the pages asked for so far,
// fetched as the table is scrolled to them. It asks by rows_wanted and is answered by take();
// it never reads the record itself.

#include "history/row_page.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

class HistoryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int page_size = 200;

    // headers: the columns' titles (time, serial, port, product, from → to, outcome, firmware
    // key, cause);
    // from_to: the "from → to" cell with %1 and %2.
    HistoryModel(QStringList headers, QString from_to, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // The cell's text, also as its tooltip.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // More rows than are loaded pass the filter, and no answer is awaited.
    bool canFetchMore(const QModelIndex& parent) const override;
    // Asks for the next page.
    void fetchMore(const QModelIndex& parent) override;

    // Forgets the rows loaded (nothing shown until the answer).
    void clear();
    // Asks for the first page of the rows that pass the filter; the rows shown stay until the
    // answer replaces them.
    void ask_first_page(const QString& serial_filter);
    // Asks again, with the same filter, for as many rows as are loaded (at least a page).
    void ask_again();

    // What an answer did, so that the view can keep its place.
    struct Taken {
        bool refilled = false;    // the rows were replaced from the top (else appended or dropped)
        bool same_filter = false; // ... by rows that pass the filter of those they replaced
        int added_above = 0;      // ... of which this many are new above the old first row
    };
    // Takes the answer to the latest request; an answer to an older one is dropped.
    Taken take(const History::RowPage& page);

signals:
    void rows_wanted(const History::RowQuery& query);

private:
    void ask(int offset, int count);
    void append(const History::RowPage& page);

    const QStringList headers_;
    const QString from_to_;
    std::vector<History::UpgradeRow> rows_; // from the first, newest, without gaps
    int total_ = -1;                        // of the rows' filter; -1: not yet answered
    QString shown_filter_;                  // the filter that rows_ passed
    QString asked_filter_;                  // of the latest request
    quint64 latest_request_ = 0;

public:
    quint64 latest_request() const { return latest_request_; } // the newest question asked
    bool awaiting_ = false; // the latest request is not yet answered
};
