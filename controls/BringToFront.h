#pragma once

class QWidget;

// Brings a window to the front as the user left it: shown again when it was
// hidden in the tray, restored when minimised, still maximised when it was.
// A modal dialog that waits for the user is raised above it.
void BringToFront(QWidget* window);
