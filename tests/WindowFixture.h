#pragma once

// A window opened on a settings file in a temporary drive C:, on a scripted
// controller that confirms every job at once unless the test scripts
// otherwise, with messages recorded instead of shown and the program's end
// counted instead of done.

#include "ScriptedComponent.h"
#include "editor/Tavrin.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class WindowFixture
{
public:
    WindowFixture()
    {
        QDir().mkpath(QFileInfo(filePath()).path());
        script.configure = [](ScriptedComponent &c) { c.events = {{1, 5, 0}}; };
    }

    QString filePath() const { return settingsFileOnDrive(m_drive.path()); }

    [[nodiscard]] bool writeFile(const QByteArray &bytes) const
    {
        QFile f(filePath());
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
    }

    QByteArray fileBytes() const
    {
        QFile f(filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
    }

    // Makes the window as the program does, on the fixture's file or the one given.
    void make() { make(filePath()); }
    void make(const QString &settingsFilePath)
    {
        window = std::make_unique<Tavrin>(
            Tavrin::Context{settingsFilePath, script.messageSink(), [this] { ++programEnds; }, script.host});
    }

    // Makes and shows the window as the program does and waits until it is active.
    bool open() { return open(filePath()); }
    bool open(const QString &settingsFilePath)
    {
        make(settingsFilePath);
        window->ShowCentred();
        return QTest::qWaitForWindowActive(window.get());
    }

    template <typename T = QWidget>
    T *control(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QCheckBox *check(const char *name) const { return control<QCheckBox>(name); }
    QComboBox *list(const char *name) const { return control<QComboBox>(name); }
    QLineEdit *text(const char *name) const { return control<QLineEdit>(name); }

    static QColor background(QWidget *w) { return w->palette().color(w->backgroundRole()); }

    // Moves the focus as the Tab key does, from whatever has it now.
    static void pressTab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }

private:
    QTemporaryDir m_drive;

public:
    // Declared in the order they are needed: the window goes first, then its host.
    ScriptedHost script;
    QStringList &messages = script.messages;
    int programEnds = 0;
    std::unique_ptr<Tavrin> window;
};

inline const QColor kBlue(0, 0, 255);
inline const QColor kLightGrey(192, 192, 192);
inline const QByteArray kAllEnabledFile = "[TRACE]\r\nENABLE = TRUE\r\n[SCAN]\r\nENABLE = TRUE\r\n";
