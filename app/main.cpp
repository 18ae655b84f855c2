#include "Message.h"
#include "Tavrin.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char **argv)
{
#if defined(Q_OS_LINUX)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("tavrin: no display to open the window on (DISPLAY is not set)\n", stderr);
        return 2;
    }
#endif
    QApplication app(argc, argv);
    app.setApplicationName(QString::fromLatin1(kAppTitle));
    // Only closing the editor ends the program (it does so itself). Qt does
    // not count a tool window as a window, so without this the close of a
    // message box would count as the last window closing and quit.
    app.setQuitOnLastWindowClosed(false);
    Tavrin window;
    SetMessageOwner(&window);
    window.ShowCentred();
    return app.exec();
}
