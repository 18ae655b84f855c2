#pragma once

#include "controller/TrelkComponent.h"

#include <QHash>

// A controller in memory, for a PC without one: every job it finishes is
// reported on standard error, one line each.
class SimulatedController : public TrelkComponent
{
    Q_OBJECT

public:
    enum class Mode {
        Accept, // jobs finish after about 20 ms; writes are stored, reads answer
        Refuse, // jobs fail with an error text
        Silent, // jobs never finish
    };
    explicit SimulatedController(Mode mode);

    bool ConnectClient(const QString &strClient, const QString &strParam, qint32 nParam) override;
    void DisconnectClient() override;
    qint16 BeginShowVar(QString &strVarName, const QString &strParam) override;
    bool GetShowVarResult(qint16 nJob, QString &strVarValue) override;
    qint16 BeginSetVar(QString &strVarName, QString &strNewValue) override;
    bool GetSetVarResult(qint16 nJob) override;
    void GetJobError(qint16 &nJob, qint16 &nCode1, qint16 &nCode2, QString &strText1, QString &strText2,
                     QString &strErrorText) override;

private:
    struct Job {
        bool succeeded = false;
        QString value;
        QString error;
    };
    qint16 startJob(const QString &what, Job job);

    Mode m_mode;
    qint16 m_lastJob = 0;
    QHash<QString, QString> m_variables;
    QHash<qint16, Job> m_jobs;
};
