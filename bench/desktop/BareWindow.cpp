// The yardstick of the start-up benchmark: a bare Qt 6 window of the
// player's size, nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(480, 360);
    window.show();
    return QApplication::exec();
}
