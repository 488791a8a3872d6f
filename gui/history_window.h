#pragma once
// The record shown: its rows newest first (time, serial, product, from → to, outcome, cause), a
// field that filters them by serial, and "Export CSV…", which writes the rows shown.

#include "history/row_page.h"
#include "settings/gui_settings.h"

#include <QDialog>

#include <functional>
#include <vector>

class QLineEdit;
class QMainWindow;
class QTableWidget;

class HistoryWindow : public QDialog {
    Q_OBJECT
public:
    HistoryWindow(const Settings::GUI& texts, bool simulator_record, QWidget* parent = nullptr);

    QTableWidget* table() const { return table_; }
    QLineEdit* filter() const { return filter_; }
    const std::vector<History::UpgradeRow>& shown() const { return shown_; }

    // Writes the rows shown; a failure shows a warning box. Returns whether it was written.
    bool export_to(const QString& path);

signals:
    void rows_wanted(const History::RowQuery& query);
    void export_wanted(const QString& path, const QString& serial_filter);

public slots:
    void take_rows(const History::RowPage& page);
    void take_export_result(const QString& path, const QString& why);
    void reload();
    // Reads the rows again, with the filter as it stands.
    void refresh();
    // Hides the window, or shows it fresh against the right edge of the main window.
    void toggle_visibility(QMainWindow* main_window);

private slots:
    void export_csv(); // asks for the file

private:
    QString text(const char* id) const;
    void build_table();

    const Settings::GUI& texts_;
    quint64 request_ = 0;
    QLineEdit* filter_;
    QTableWidget* table_;
    std::vector<History::UpgradeRow> shown_;
};
