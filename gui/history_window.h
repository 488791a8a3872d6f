#pragma once
// The record shown: its rows newest first (time, serial, product, from → to, outcome, cause), a
// field that filters them by serial, and "Export CSV…". The window never reads the record: it
// asks by signal and is answered by slot, with copies, so that whatever reads the record may do
// so on a thread of its own (connect both ways queued).

#include "history/row_page.h"
#include "gui/gui_settings.h"

#include <QDialog>

class HistoryModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QMainWindow;
class QTableView;
class QTimer;
class QVBoxLayout;

class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    // simulator_record: the record shown is the simulator's, and the title says so.
    HistoryWindow(const Settings::GUI& texts, bool simulator_record, QWidget* parent = nullptr);

    QTableView* table() const { return table_; }
    QLineEdit* filter() const { return filter_; }
    HistoryModel* model() const { return model_; }

    // Offers the fleet's rows beside this bench's (a bench joined to a central record): a
    // check box that asks for them (RowQuery::fleet). Export stays with this bench's record.
    void offer_fleet();
    QCheckBox* fleet_box() const { return fleet_; }

    // Puts the text in the filter field and, while the window is shown, asks at once.
    void set_filter(const QString& serial_filter);
    // Asks, without a dialog, for the rows that pass the filter to be written to path as CSV:
    // emits export_wanted. The result arrives later, in take_export_result.
    void export_to(const QString& path);

signals:
    // The rows to show; answered by take_rows.
    void rows_wanted(const History::RowQuery& query);
    // All rows that pass the filter, to be written to path; answered by take_export_result.
    void export_wanted(const QString& path, const QString& serial_filter);

public slots:
    // An answer to rows_wanted; one to an older request than the latest is dropped.
    void take_rows(const History::RowPage& page);
    // An answer to export_wanted: why is empty when the file was written, else a warning box
    // says why.
    void take_export_result(const QString& path, const QString& why);
    // A row was written: asks again for the rows shown (while shown), keeping the place.
    void reload();
    // Hides the window, or shows it fresh against the right edge of the main window and asks
    // for the first page.
    void toggle_visibility(QMainWindow* main_window);

private slots:
    void export_csv(); // asks for the file

private:
    QString text(const char* id) const;
    void build_bar(QVBoxLayout* layout);
    void build_table();
    QString typed_filter() const;
    void ask_first_page(); // with the filter as typed, while shown
    void show_fleet(bool fleet);

    const Settings::GUI& texts_;
    QLineEdit* filter_ = nullptr;
    class QHBoxLayout* bar_ = nullptr;
    QPushButton* export_ = nullptr;
    QCheckBox* fleet_ = nullptr;  // null until offered
    QLabel* unread_ = nullptr;    // what kept the rows from being read, when anything did
    QTableView* table_ = nullptr;
    HistoryModel* model_ = nullptr;
    QTimer* typing_pause_ = nullptr; // a filter is asked for once typing pauses
};
