#pragma once

#include "controller/TrelkComponent.h"

#include <functional>
#include <memory>

// Shows a message to the user and returns once it has been seen. The program
// shows message boxes; tests record the texts.
using ShowMessage = std::function<void(const QString &text)>;

// The hidden host of the controller-communication component, shared by every
// client: it connects the component, turns its job-finished event into state
// that a polling wait can see, and keeps the last failed job's error. The
// program makes exactly one.
class TrelkForm : public QObject
{
    Q_OBJECT

public:
    // Creates the component on load; it may throw TrelkError.
    using ComponentFactory = std::function<std::unique_ptr<TrelkComponent>()>;
    // The wait's sleep between two polling cycles.
    using Sleep = std::function<void(int milliseconds)>;

    TrelkForm(ComponentFactory createTrelk1, ShowMessage showMessage, Sleep sleep = systemSleep);

    qint16 myJob = 0;
    // True when a job-finished event with status 0 or 1 came within the wait;
    // false after the "TIMEOUT !!!" message.
    bool WaitForCommandEnd(qint32 nSeconds);
    bool TrelkIsConnected() const { return bConnected; }
    QString GetError() const { return strError; }

    // Creates the component and sends the connect request; nothing when loaded.
    void Load();
    // Sends the disconnect request if connected and destroys the component.
    void Unload();
    bool IsLoaded() const { return m_trelk1 != nullptr; }
    // The component; referring to it loads the host, as a form's controls do.
    TrelkComponent &Trelk1();

    // The operating system's sleep.
    static void systemSleep(int milliseconds);

private:
    void onJobFinished(qint16 nJob, qint32 nStatus);

    const ComponentFactory m_createTrelk1;
    const ShowMessage m_showMessage;
    const Sleep m_sleep;
    bool bCommandEnded = false;
    QString strError;
    bool bConnected = false;
    bool m_unloading = false;
    std::unique_ptr<TrelkComponent> m_trelk1;
};
