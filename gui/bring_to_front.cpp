#include "gui/bring_to_front.h"

#include <QDebug>
#include <QWidget>

void bring_to_front(QWidget* window) {
    qInfo() << "Another start asked for the window: it is brought to the front";
    window->show();
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}
