// The benchmark's yardstick: the least a Qt widgets program does to show a window of the main
// window's size (665 x 517). It says "window shown" on standard error once its event loop runs
// with the window shown, and then runs until it is terminated.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(665, 517);
    window.show();
    QTimer::singleShot(0, [] {
        std::fputs("window shown\n", stderr);
        std::fflush(stderr);
    });
    return app.exec();
}
