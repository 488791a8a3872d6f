#pragma once
// Where the program's side windows (log, history) appear: against the main window's right edge.

class QMainWindow;
class QWidget;

// Moves the window to the main window's right edge, at its top; never past the screen's right
// edge, where its buttons could not be reached.
void place_beside(QWidget* window, const QMainWindow* main_window);
