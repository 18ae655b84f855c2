#include "controller/ActiveXComponent.h"

#include <QMetaObject>

namespace {

std::wstring wide(const QString &text)
{
    return text.toStdWString();
}

QString qt(const std::wstring &text)
{
    return QString::fromStdWString(text);
}

} // namespace

// Runs a call on the control, with its failures as the interface's errors.
template <typename Call>
auto ActiveXComponent::translated(Call call)
{
    ++m_callDepth;
    struct Leave {
        int &depth;
        ~Leave() { --depth; }
    } leave{m_callDepth};
    try {
        return call();
    } catch (const TrelkControlError &e) {
        throw TrelkError(QString::fromUtf8(e.what()));
    }
}

ActiveXComponent::ActiveXComponent(const wchar_t *progId)
{
    m_control = translated([this, progId] {
        return std::make_unique<TrelkControl>(progId, [this](short nJob, long nStatus) {
            // Delivered while the wait processes events: handled at once, in
            // that cycle. One fired inside a call (the start call, say) goes
            // through the event queue, so that the wait still sees it.
            if (m_callDepth == 0)
                emit JobFinished(qint16(nJob), qint32(nStatus));
            else
                QMetaObject::invokeMethod(
                    this, [this, nJob, nStatus] { emit JobFinished(qint16(nJob), qint32(nStatus)); },
                    Qt::QueuedConnection);
        });
    });
}

bool ActiveXComponent::ConnectClient(const QString &strClient, const QString &strParam, qint32 nParam)
{
    return translated([&] { return m_control->ConnectClient(wide(strClient), wide(strParam), long(nParam)); });
}

void ActiveXComponent::DisconnectClient()
{
    translated([&] { m_control->DisconnectClient(); });
}

qint16 ActiveXComponent::BeginShowVar(QString &strVarName, const QString &strParam)
{
    std::wstring name = wide(strVarName);
    const qint16 job = translated([&] { return m_control->BeginShowVar(name, wide(strParam)); });
    strVarName = qt(name);
    return job;
}

bool ActiveXComponent::GetShowVarResult(qint16 nJob, QString &strVarValue)
{
    std::wstring value = wide(strVarValue);
    const bool read = translated([&] { return m_control->GetShowVarResult(nJob, value); });
    strVarValue = qt(value);
    return read;
}

qint16 ActiveXComponent::BeginSetVar(QString &strVarName, QString &strNewValue)
{
    std::wstring name = wide(strVarName);
    std::wstring value = wide(strNewValue);
    const qint16 job = translated([&] { return m_control->BeginSetVar(name, value); });
    strVarName = qt(name);
    strNewValue = qt(value);
    return job;
}

bool ActiveXComponent::GetSetVarResult(qint16 nJob)
{
    return translated([&] { return m_control->GetSetVarResult(nJob); });
}

void ActiveXComponent::GetJobError(qint16 &nJob, qint16 &nCode1, qint16 &nCode2, QString &strText1,
                                   QString &strText2, QString &strErrorText)
{
    short job = nJob, code1 = nCode1, code2 = nCode2;
    std::wstring text1 = wide(strText1), text2 = wide(strText2), errorText = wide(strErrorText);
    translated([&] { m_control->GetJobError(job, code1, code2, text1, text2, errorText); });
    nJob = job;
    nCode1 = code1;
    nCode2 = code2;
    strText1 = qt(text1);
    strText2 = qt(text2);
    strErrorText = qt(errorText);
}
