#pragma once

// A component whose answers and events a test decides. Events are posted to
// the event queue when the host's wait reaches the polling cycle given, so
// they arrive while the wait processes events, as the real control's do.

#include "controller/TrelkComponent.h"
#include "controller/TrelkForm.h"

#include <QList>
#include <QMetaObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class ScriptedComponent : public TrelkComponent
{
    Q_OBJECT

public:
    struct Event {
        int cycle; // the polling cycle (1 = the first sleep) that posts it
        qint16 job;
        qint32 status;
    };

    bool connectAnswer = true;
    qint16 startJob = 5;
    bool resultAnswer = true;
    QString showVarText;     // what GetShowVarResult writes
    QString jobErrorText;    // what GetJobError writes into its last text
    std::optional<QString> throwOnBegin;
    std::optional<QString> throwOnJobError;
    QList<Event> events;     // posted as the cycles come
    std::optional<qint32> statusInsideConnect;    // an event delivered during the call
    std::optional<qint32> statusInsideDisconnect;

    QStringList calls;       // every call, with its arguments
    QStringList *callsWhenGone = nullptr; // receives `calls` when the host destroys it
    int cycles = 0;          // polling cycles since the last Begin call

    ~ScriptedComponent() override
    {
        if (callsWhenGone)
            *callsWhenGone = calls;
    }

    // One of the host's polling cycles, instead of its sleep: posts the events due.
    void pollingCycle()
    {
        ++cycles;
        for (const Event &e : std::as_const(events)) {
            if (e.cycle == cycles)
                QMetaObject::invokeMethod(
                    this, [this, e] { emit JobFinished(e.job, e.status); }, Qt::QueuedConnection);
        }
    }

    bool ConnectClient(const QString &strClient, const QString &strParam, qint32 nParam) override
    {
        calls << QStringLiteral("ConnectClient(%1,%2,%3)").arg(strClient, strParam).arg(nParam);
        if (statusInsideConnect)
            emit JobFinished(startJob, *statusInsideConnect);
        return connectAnswer;
    }
    void DisconnectClient() override
    {
        calls << QStringLiteral("DisconnectClient()");
        if (statusInsideDisconnect)
            emit JobFinished(startJob, *statusInsideDisconnect);
    }
    qint16 BeginShowVar(QString &strVarName, const QString &strParam) override
    {
        calls << QStringLiteral("BeginShowVar(%1,%2)").arg(strVarName, strParam);
        return begin(strVarName);
    }
    bool GetShowVarResult(qint16 nJob, QString &strVarValue) override
    {
        calls << QStringLiteral("GetShowVarResult(%1,%2)").arg(nJob).arg(strVarValue);
        strVarValue = showVarText;
        return resultAnswer;
    }
    qint16 BeginSetVar(QString &strVarName, QString &strNewValue) override
    {
        calls << QStringLiteral("BeginSetVar(%1,%2)").arg(strVarName, strNewValue);
        strNewValue = QStringLiteral("changed by the component");
        return begin(strVarName);
    }
    bool GetSetVarResult(qint16 nJob) override
    {
        calls << QStringLiteral("GetSetVarResult(%1)").arg(nJob);
        return resultAnswer;
    }
    void GetJobError(qint16 &nJob, qint16 &nCode1, qint16 &nCode2, QString &strText1, QString &strText2,
                     QString &strErrorText) override
    {
        calls << QStringLiteral("GetJobError(%1,%2,%3,%4,%5,%6)")
                     .arg(nJob).arg(nCode1).arg(nCode2).arg(strText1, strText2, strErrorText);
        if (throwOnJobError)
            throw TrelkError(*throwOnJobError);
        strText1 = QStringLiteral("first");
        strText2 = QStringLiteral("second");
        strErrorText = jobErrorText;
    }

private:
    qint16 begin(QString &strVarName)
    {
        if (throwOnBegin)
            throw TrelkError(*throwOnBegin);
        strVarName = QStringLiteral("changed by the component");
        cycles = 0;
        return startJob;
    }
};

// A host whose component is a scripted one, made afresh on each load, whose
// wait counts polling cycles instead of sleeping, and whose messages are
// recorded. The host is unloaded when the script goes.
class ScriptedHost
{
public:
    ~ScriptedHost() { host.Unload(); }

    // Applied to every component the host creates; throwing fails the creation.
    std::function<void(ScriptedComponent &)> configure = [](ScriptedComponent &) {};
    // The wait's sleep and where messages go; a test may wrap either.
    TrelkForm::Sleep sleep = [this](int) { current->pollingCycle(); };
    ShowMessage showMessage = [this](const QString &text) { messages << text; };
    // For a window on this host, so its messages are recorded in order with the host's.
    ShowMessage messageSink()
    {
        return [this](const QString &text) { showMessage(text); };
    }

    QStringList messages;
    ScriptedComponent *current = nullptr; // the latest component created

    TrelkForm host{[this] { return create(); }, messageSink(), [this](int milliseconds) { sleep(milliseconds); }};

private:
    std::unique_ptr<TrelkComponent> create()
    {
        auto component = std::make_unique<ScriptedComponent>();
        configure(*component);
        current = component.get();
        return component;
    }
};

using Events = QList<ScriptedComponent::Event>;
Q_DECLARE_METATYPE(Events)
