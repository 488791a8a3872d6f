#pragma once
// Answering another start that asked for the window.

class QWidget;

// Shows the window, unminimised, raised and active.
void bring_to_front(QWidget* window);
