#pragma once
// The program's one fixed-size window: background picture, labels from the settings, a ring
// marker, and the install button with the progress bar in the same place. It holds no workflow
// logic; the wiring drives it.

#include "gui/hint_line.h"
#include "gui/settings.h"

#include <QLabel>
#include <QMainWindow>

#include <optional>

class InstallButton;
class ProgressBar;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(const Settings::Settings* settings_record, QWidget* parent = nullptr);

    // Sizes and places the window, and the button and bar when they exist.
    void setupGeometry();

    // 1.0 for macOS builds; elsewhere the desktop's logical dpi over 96.
    static double platform_scale_factor();
    // When set, windows built afterwards use this scale instead (tests, screenshots).
    static std::optional<double> forced_scale_factor;

    const Settings::Settings* settings; // not owned
    QLabel* statusLabel = nullptr;      // the label of "status_noDev"; the wiring rewrites it
    HintLine* hintLabel = nullptr;      // the label of "status_hint": the line under the status
    bool downloadMode = false;          // whether installing is currently allowed
    double scaleFactor = 1.0;           // design pixels to window pixels
    InstallButton* installButton = nullptr;
    ProgressBar* progressBar = nullptr;

    // Whether the hint line's text fits its one line (true without a hint line).
    bool hintFits() const;

signals:
    void finished(); // the user asked to stop (Q or Escape)
    void downloadModeChanged();

public slots:
    void enableDownload();
    void disableDownload();
    void toggleDownload();
    // Brings the install button in line with downloadMode; logs every call.
    void updateDownloadMode();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The complete window; stops the program with a fatal message when the settings have no
// "status_noDev" text.
MainWindow* MainWindow_factory(const Settings::Settings* settings, QWidget* parent,
                               bool sim_mode);

// One QLabel per settings entry to show (object name = the entry's id), plus the button caption.
void add_labels(const Settings::Settings* settings, MainWindow* window, bool sim_mode);

// The hint line under the status line, from the entry "status_hint": at its position, empty,
// one line high down to the window's bottom, as wide as the window less its left margin on
// both sides. The status line then ends where it begins, so that the two never overlap.
// Without the entry there is no hint line.
void add_hint_label(const Settings::Settings* settings, MainWindow* window);
