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
    Tavrin window;
    window.ShowCentred();
    return app.exec();
}
