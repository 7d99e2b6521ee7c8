#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vessarine");
    QMainWindow window;
    window.setWindowTitle("Vessarine");
    window.resize(730, 623);
    window.show();
    return QApplication::exec();
}
