#pragma once
// The class of the uninstaller's two windows. It has no behaviour of its own: the window
// controllers fill and watch it.

#include <QWidget>

class BaseWindow : public QWidget {
    Q_OBJECT

public:
    explicit BaseWindow(QWidget* parent = nullptr);
};
