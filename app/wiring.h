#pragma once
// Joins the workflow and the window, which know nothing of each other.

class QApplication;

// Makes the connections between SM_B, SM_A, the main window and the log window.
void add_connections(QApplication* app);
