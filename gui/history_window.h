#pragma once
// The record shown: its rows newest first (time, serial, product, from → to, outcome, cause), a
// field that filters them by serial, and "Export CSV…", which writes the rows shown.

#include "history/upgrade_row.h"
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
    // The rows whose serial contains the filter, newest first.
    using Loader = std::function<std::vector<History::UpgradeRow>(const QString& serial_filter)>;

    HistoryWindow(const Settings::GUI& texts, Loader loader, QWidget* parent = nullptr);

    QTableWidget* table() const { return table_; }
    QLineEdit* filter() const { return filter_; }
    const std::vector<History::UpgradeRow>& shown() const { return shown_; }

    // Writes the rows shown; a failure shows a warning box. Returns whether it was written.
    bool export_to(const QString& path);

public slots:
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
    const Loader loader_;
    QLineEdit* filter_;
    QTableWidget* table_;
    std::vector<History::UpgradeRow> shown_;
};
