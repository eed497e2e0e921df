#pragma once

class QWidget;

// Places the window, at its own size, in the middle of the primary screen's free area.
void UninstallCenterWindow(QWidget* window);
