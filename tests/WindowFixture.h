#pragma once

// A window opened on a settings file in a temporary drive C:, with messages
// recorded instead of shown and the program's end recorded instead of done.

#include "app/Message.h"
#include "settings/SettingsFile.h"
#include "editor/Tavrin.h"

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
        SetSettingsFilePath(filePath());
        QDir().mkpath(QFileInfo(filePath()).path());
        SetMessageHandler([this](const QString &text) { messages << text; });
        Tavrin::endProgram = [this] { ++programEnds; };
    }
    ~WindowFixture()
    {
        window.reset();
        SetSettingsFilePath({});
        SetMessageHandler({});
    }

    QString filePath() const { return settingsFileOnDrive(m_drive.path()); }

    void writeFile(const QByteArray &bytes) const
    {
        QFile f(filePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QByteArray fileBytes() const
    {
        QFile f(filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<no file>");
    }

    // Opens the window as the program does and waits until it is active.
    bool open()
    {
        window = std::make_unique<Tavrin>();
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

    std::unique_ptr<Tavrin> window;
    QStringList messages;
    int programEnds = 0;

private:
    QTemporaryDir m_drive;
};

inline const QColor kBlue(0, 0, 255);
inline const QColor kLightGrey(192, 192, 192);
inline const QByteArray kAllEnabledFile = "[TRACE]\r\nENABLE = TRUE\r\n[SCAN]\r\nENABLE = TRUE\r\n";
