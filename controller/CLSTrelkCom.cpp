#include "controller/CLSTrelkCom.h"

#include "controller/TextTrim.h"
#include "controller/TrelkForm.h"

namespace {

constexpr qint32 kWaitSeconds = 10;

} // namespace

CLSTrelkCom::CLSTrelkCom(TrelkForm &host) : m_host(host)
{
    m_host.Load();
}

CLSTrelkCom::~CLSTrelkCom()
{
    m_host.Unload();
}

bool CLSTrelkCom::SetVar(QString strVarName, QString strNewValue)
{
    m_host.myJob = m_host.Trelk1().BeginSetVar(strVarName, strNewValue);
    if (!m_host.WaitForCommandEnd(kWaitSeconds))
        return false;
    return m_host.Trelk1().GetSetVarResult(m_host.myJob);
}

bool CLSTrelkCom::ShowVar(QString strVarName, QString &strVarValue)
{
    m_host.myJob = m_host.Trelk1().BeginShowVar(strVarName, QString());
    if (!m_host.WaitForCommandEnd(kWaitSeconds))
        return false;
    const bool read = m_host.Trelk1().GetShowVarResult(m_host.myJob, strVarValue);
    const qsizetype equals = strVarValue.indexOf(u'=');
    if (equals >= 0)
        strVarValue = trimSpaces(strVarValue.mid(equals + 1));
    return read;
}

QString CLSTrelkCom::GetError() const
{
    return m_host.GetError();
}
