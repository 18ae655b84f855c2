#pragma once

#include "controller/TrelkComponent.h"
#include "controller/TrelkControl.h"

// The registered control "TrelkLib.Trelk" as the host's component (Windows).
class ActiveXComponent : public TrelkComponent
{
    Q_OBJECT

public:
    // Throws TrelkError when the control is missing or cannot be hosted.
    explicit ActiveXComponent(const wchar_t *progId);

    bool ConnectClient(const QString &strClient, const QString &strParam, qint32 nParam) override;
    void DisconnectClient() override;
    qint16 BeginShowVar(QString &strVarName, const QString &strParam) override;
    bool GetShowVarResult(qint16 nJob, QString &strVarValue) override;
    qint16 BeginSetVar(QString &strVarName, QString &strNewValue) override;
    bool GetSetVarResult(qint16 nJob) override;
    void GetJobError(qint16 &nJob, qint16 &nCode1, qint16 &nCode2, QString &strText1, QString &strText2,
                     QString &strErrorText) override;

private:
    template <typename Call>
    auto translated(Call call);

    std::unique_ptr<TrelkControl> m_control;
    // Calls into the control under way; events fired inside one are queued.
    int m_callDepth = 0;
};
