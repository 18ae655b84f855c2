#include "controller/CLSTrelkCom.h"

#include "controller/TrelkForm.h"
#include "settings/TextTrim.h"

namespace {

constexpr qint32 kWaitSeconds = 10;

} // namespace

CLSTrelkCom::CLSTrelkCom()
{
    TrelkForm::instance().Load();
}

CLSTrelkCom::~CLSTrelkCom()
{
    TrelkForm::instance().Unload();
}

bool CLSTrelkCom::SetVar(QString strVarName, QString strNewValue)
{
    TrelkForm &host = TrelkForm::instance();
    host.myJob = host.Trelk1().BeginSetVar(strVarName, strNewValue);
    if (!host.WaitForCommandEnd(kWaitSeconds))
        return false;
    return host.Trelk1().GetSetVarResult(host.myJob);
}

bool CLSTrelkCom::ShowVar(QString strVarName, QString &strVarValue)
{
    TrelkForm &host = TrelkForm::instance();
    host.myJob = host.Trelk1().BeginShowVar(strVarName, QString());
    if (!host.WaitForCommandEnd(kWaitSeconds))
        return false;
    const bool read = host.Trelk1().GetShowVarResult(host.myJob, strVarValue);
    const qsizetype equals = strVarValue.indexOf(u'=');
    if (equals >= 0)
        strVarValue = trimSpaces(strVarValue.mid(equals + 1));
    return read;
}

QString CLSTrelkCom::GetError() const
{
    return TrelkForm::instance().GetError();
}
