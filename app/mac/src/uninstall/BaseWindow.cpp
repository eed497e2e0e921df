#include "BaseWindow.h"

BaseWindow::BaseWindow(QWidget* parent) : QWidget(parent) {}
