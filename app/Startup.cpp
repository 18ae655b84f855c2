#include "app/Startup.h"

#include "app/MessageBoxes.h"
#include "controller/ComponentChoice.h"
#include "editor/Tavrin.h"
#include "settings/SettingsFile.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// The controller's settings file. Only the program names it; tests give the
// window a file of their own.
QString installedSettingsFilePath()
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

// Closing the window ends the program at once, also from inside a nested
// event loop, so interrupted work never goes on.
void endProgram()
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}

} // namespace

int runTavrin(int argc, char **argv, const StartupOptions &options)
{
#if defined(Q_OS_LINUX)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs("tavrin: no display to open the window on (DISPLAY is not set)\n", stderr);
        return 2;
    }
#endif
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 scales to the screen's dots per inch by itself, by the exact factor.
    // Qt 5 must be told, or at 150 % the dialog stays small with its texts cut.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif

    QApplication app(argc, argv);
    app.setApplicationName(QString::fromLatin1(kAppTitle));
    // Only closing the editor ends the program (it does so itself). Qt does
    // not count a tool window as a window, so without this the close of a
    // message box would count as the last window closing and quit.
    app.setQuitOnLastWindowClosed(false);

    MessageBoxes boxes;
    const ShowMessage showMessage = options.showMessage ? options.showMessage : boxes.showMessage();
    TrelkForm::ComponentFactory createTrelk1 = options.createTrelk1;
    if (!createTrelk1)
        createTrelk1 = [choice = qEnvironmentVariable("TAVRIN_CONTROLLER")] { return CreateTrelk1(choice); };
    TrelkForm host(createTrelk1, showMessage);
    const QString settingsFilePath =
        options.settingsFilePath.isEmpty() ? installedSettingsFilePath() : options.settingsFilePath;
    Tavrin window({settingsFilePath, showMessage, endProgram, host});
    boxes.setOwner(&window);
    if (options.windowMade)
        options.windowMade(window);
    window.ShowCentred();
    return app.exec();
}
