#pragma once

#include <QObject>
#include <QString>

#include <stdexcept>

// What a failing component call raises: the component's own error text.
class TrelkError : public std::runtime_error
{
public:
    explicit TrelkError(const QString &text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};

// The controller-communication component, as the host calls it. Each call
// stands for one dispatch id of the maker's control; a by-reference text is
// one the component may write. Failing calls throw TrelkError.
class TrelkComponent : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool ConnectClient(const QString &strClient, const QString &strParam, qint32 nParam) = 0; // 117
    virtual void DisconnectClient() = 0;                                                                // 118
    virtual qint16 BeginShowVar(QString &strVarName, const QString &strParam) = 0;                      // 16
    virtual bool GetShowVarResult(qint16 nJob, QString &strVarValue) = 0;                               // 17
    virtual qint16 BeginSetVar(QString &strVarName, QString &strNewValue) = 0;                          // 18
    virtual bool GetSetVarResult(qint16 nJob) = 0;                                                      // 19
    virtual void GetJobError(qint16 &nJob, qint16 &nCode1, qint16 &nCode2, QString &strText1,
                             QString &strText2, QString &strErrorText) = 0;                            // 4

signals:
    // A job has ended: status 0 finished, 1 failed. Emitted from the event
    // queue, never from inside the call that started the job.
    void JobFinished(qint16 nJob, qint32 nStatus);
};
