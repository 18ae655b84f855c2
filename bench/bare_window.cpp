// The least a Qt program does to show a window: the yardstick for the
// program's start-up. Escape closes it, which ends it.
#include <QApplication>
#include <QDialog>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QDialog window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(393, 340);
    window.show();
    return app.exec();
}
