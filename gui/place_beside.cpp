#include "gui/place_beside.h"

#include <QMainWindow>
#include <QScreen>

void place_beside(QWidget* window, const QMainWindow* main_window) {
    // A 1280-pixel screen is narrower than both windows side by side.
    int x = main_window->geometry().right();
    if (const QScreen* screen = main_window->screen()) {
        const QRect available = screen->availableGeometry();
        x = qMax(available.left(),
                 qMin(x, available.right() + 1 - window->frameGeometry().width()));
    }
    window->move(x, main_window->geometry().top());
}
