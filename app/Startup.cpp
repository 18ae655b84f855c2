#include "app/Startup.h"

#include "app/MessageBoxes.h"
#include "controller/ComponentChoice.h"
#include "editor/Tavrin.h"
#include "settings/SettingsFile.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#if defined(Q_OS_LINUX) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <xcb/xcb.h>
#endif

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

#if defined(Q_OS_LINUX) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Whether the X desktop asks for a dots-per-inch value (Xft.dpi). Without
// one, Qt 5 scales by the screen's physical dots per inch, Qt 6 by 96.
bool desktopSetsDpi()
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    bool set = false;
    if (!xcb_connection_has_error(connection)) {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_get_property_cookie_t cookie = xcb_get_property(
            connection, 0, screen->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 1 << 16);
        if (xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr)) {
            const QByteArray resources(static_cast<const char *>(xcb_get_property_value(reply)),
                                       xcb_get_property_value_length(reply));
            set = resources.startsWith("Xft.dpi:") || resources.contains("\nXft.dpi:");
            std::free(reply);
        }
    }
    xcb_disconnect(connection);
    return set;
}
#endif

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
#if defined(Q_OS_LINUX)
    // One scale for both builds: the desktop's dots per inch, else 96.
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (qEnvironmentVariableIsEmpty("QT_FONT_DPI") && (platform.isEmpty() || platform == "xcb") &&
        !desktopSetsDpi())
        qputenv("QT_FONT_DPI", "96");
#endif
#endif

    QApplication app(argc, argv);
    app.setApplicationName(QString::fromLatin1(kAppTitle));
    // Only closing the editor ends the program (it does so itself). Qt does
    // not count a tool window as a window, so without this the close of a
    // message box would count as the last window closing and quit.
    app.setQuitOnLastWindowClosed(false);

    MessageBoxes boxes;
    const ShowMessage showMessage = options.showMessage ? options.showMessage : boxes.showMessage();
    TrelkForm host(options.createTrelk1 ? options.createTrelk1 : TrelkForm::ComponentFactory(CreateTrelk1), showMessage);
    const QString settingsFilePath =
        options.settingsFilePath.isEmpty() ? installedSettingsFilePath() : options.settingsFilePath;
    Tavrin window({settingsFilePath, showMessage, endProgram, host});
    boxes.setOwner(&window);
    if (options.windowMade)
        options.windowMade(window);
    window.ShowCentred();
    return app.exec();
}
