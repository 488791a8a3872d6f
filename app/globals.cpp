#include "app/globals.h"

#include "gui/main_window.h"

QPointer<MainWindow> mainWindow;
SM_A* sm_A = nullptr;
SM_B* sm_B = nullptr;
HistoryController* historyController = nullptr;
Settings::Settings settings;
bool use_log_window = false;
QString central_record_option;
