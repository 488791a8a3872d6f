#pragma once
// The application-wide objects: one instance each, created by start-up.

#include "settings/settings.h"

#include <QPointer>

class MainWindow;
class SM_A;
class SM_B;
class HistoryController;

extern QPointer<MainWindow> mainWindow;
extern SM_A* sm_A; // owned; deleted by shut-down
extern SM_B* sm_B; // owned; deleted by shut-down
extern HistoryController* historyController; // owned; made and deleted by history_controller.h
extern Settings::Settings settings;
extern bool use_log_window;
extern QString central_record_option; // --central-record: a libpq connection string, or empty
