#pragma once

#include "controller/TrelkComponent.h"

#include <functional>
#include <memory>

// The one hidden host of the controller-communication component, shared by
// every client: it connects the component, turns its job-finished event into
// state that a polling wait can see, and keeps the last failed job's error.
class TrelkForm : public QObject
{
    Q_OBJECT

public:
    // The host, created on first reference.
    static TrelkForm &instance();

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

    using ComponentFactory = std::function<std::unique_ptr<TrelkComponent>()>;
    // What creates the component on load; an empty factory restores the default.
    static void SetComponentFactory(ComponentFactory factory);
    // The wait's sleep between two polling cycles; tests count the cycles here.
    static std::function<void(int milliseconds)> sleep;

private:
    TrelkForm();
    void onJobFinished(qint16 nJob, qint32 nStatus);

    bool bCommandEnded = false;
    QString strError;
    bool bConnected = false;
    bool m_unloading = false;
    std::unique_ptr<TrelkComponent> m_trelk1;
};
