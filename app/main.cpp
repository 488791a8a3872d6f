#include "app/startup.h"
#include "app/termination_signals.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Desktops match the window to its desktop entry and icon by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(ORVANTA_APP_ID));
    quit_event_loop_on_termination_signals();
    GUI_init();
    return GUI_cleanup(app.exec());
}
