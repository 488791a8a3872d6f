#pragma once
// The connections between the window's unit's upgrade and the window.

class QApplication;
class WindowProgram;

// Joins the program's upgrade (its machine and worker) to its main window and the log window;
// in the documented order, before the machine is started.
void add_connections(QApplication* app, WindowProgram& program);
