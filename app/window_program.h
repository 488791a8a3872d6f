#pragma once
// The window's program: its settings, its main window, the program's record, the upgrade of the
// one unit attached (whose worker and machine the window's wiring calls sm_A and sm_B), and the
// history controller. Made by one function that start-up and the tests both call, so that both
// build and join it in one order. Owned by main; lives in the GUI thread.

#include "files/files.h"
#include "gui/settings.h"
#include "upgrade/startup_options.h"

#include <QPointer>
#include <QString>

#include <memory>

class HistoryController;
class MainWindow;
class SM_A;
class SM_B;

namespace Upgrade {
class ProgramRecord;
class UnitUpgrade;
} // namespace Upgrade

struct WindowSetup {
    StartupOptions options;
    Files::Problem working_files;  // start-up's: with one, the worker runs nothing
    bool simulator = false;        // simulator mode: the window says so
    QString record_path;           // empty: nothing is recorded (tests of the window alone)
    QString central_connection;    // a central record's, or empty
};

class WindowProgram {
public:
    WindowProgram();
    ~WindowProgram(); // finish()
    WindowProgram(const WindowProgram&) = delete;
    WindowProgram& operator=(const WindowProgram&) = delete;

    SM_A* sm_A() const;
    SM_B* sm_B() const;
    // The end, after the event loop: the unit's upgrade ends (a transfer under way first, then
    // what a stop left unfinished is recorded), then the record takes its last rows.
    void finish();

    Settings::Settings settings;
    QPointer<MainWindow> mainWindow; // not deleted here: it lives until the process ends
    std::unique_ptr<Upgrade::ProgramRecord> record;   // null without a record
    std::unique_ptr<Upgrade::UnitUpgrade> upgrade;
    std::unique_ptr<HistoryController> history;       // with a record only
    bool stop_waits_for_transfer = false; // a stop (Escape, Q) waits for the transfer under way
    bool use_log_window = false;          // -l: every message goes to the log window
};

// The window with its labels and title, the unit's upgrade with the record following it, the
// wiring, the history controller; then the record and the machine are started (the worker
// starts once the machine is in its initial state, from the event loop), and the window shown.
std::unique_ptr<WindowProgram> make_window_program(Settings::Settings settings,
                                                   const WindowSetup& setup);
