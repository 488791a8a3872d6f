#pragma once
// The central record's indicator: one short, calm line at the settings entry "central_record",
// always visible while the bench ships to a central record, never there otherwise.

#include <QLabel>

class MainWindow;
namespace Settings {
struct Settings;
}

class CentralIndicator : public QLabel {
    Q_OBJECT
public:
    CentralIndicator(const QString& text_template, MainWindow* window);
    // The words in the entry's text, and the line as wide as they need.
    void say(const QString& words);

private:
    const QString text_template;
};

// Null when the settings have no positioned "central_record" entry.
CentralIndicator* add_central_indicator(const Settings::Settings* settings, MainWindow* window);
