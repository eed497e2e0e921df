// The peer of the front end's start-up benchmark: the least a Qt program does to show a
// window of the main window's size. No font, style sheet or anything else of our own.

#include <QApplication>
#include <QDialog>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QDialog dialog;
    dialog.resize(400, 270);
    dialog.show();
    return QApplication::exec();
}
