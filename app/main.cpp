#include "app/Message.h"
#include "settings/SettingsFile.h"
#include "editor/Tavrin.h"

#include <QApplication>

#include <cstdio>

// The controller's settings file. Only the program itself names it; tests
// give the window a file of their own.
static QString installedSettingsFilePath()
{
#ifdef Q_OS_WIN
    return QString::fromLatin1(kSettingsDisplayPath);
#else
    // Without drive letters, C: is the folder in TAVRIN_DRIVE_C (default
    // /mnt/c, as under WSL).
    QString driveC = qEnvironmentVariable("TAVRIN_DRIVE_C");
    if (driveC.isEmpty())
        driveC = QStringLiteral("/mnt/c");
    return settingsFileOnDrive(driveC);
#endif
}

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
    SetSettingsFilePath(installedSettingsFilePath());
    Tavrin window;
    SetMessageOwner(&window);
    window.ShowCentred();
    return app.exec();
}
