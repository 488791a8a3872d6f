#include "app/startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    GUI_init();
    return GUI_cleanup(app.exec());
}
