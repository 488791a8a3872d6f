#pragma once
// A page of the record's rows, asked for by the history window and answered by the recorder on
// its own thread: both cross threads as copies in queued calls.

#include "history/upgrade_row.h"

#include <QMetaType>
#include <QString>

#include <vector>

namespace History {

// Rows newest first (by insertion), only the serials that contain the filter (any case).
struct RowQuery {
    quint64 request = 0; // the asker's number; an answer to an older request is dropped
    QString serial_filter;
    int offset = 0;
    int count = 0;
    bool fleet = false; // every bench's rows, from the central record, not this bench's
};

struct RowPage {
    quint64 request = 0; // of the query answered
    int offset = 0;
    int total = 0; // all rows that pass the filter
    std::vector<UpgradeRow> rows;
    QString why; // what kept the rows from being read, in the reader's words; empty: nothing
};

} // namespace History

Q_DECLARE_METATYPE(History::RowQuery)
Q_DECLARE_METATYPE(History::RowPage)
