#pragma once

#include <QString>

class TrelkForm;

// Writes and reads controller variables by name. Stateless: everything lives
// in the host it is given. Creating a client loads the host; destroying one
// unloads it for every client. Component errors pass to the caller.
class CLSTrelkCom
{
public:
    explicit CLSTrelkCom(TrelkForm &host);
    ~CLSTrelkCom();
    CLSTrelkCom(const CLSTrelkCom &) = delete;
    CLSTrelkCom &operator=(const CLSTrelkCom &) = delete;

    // True when the controller finished the write within the wait and
    // reports it done; false on a refusal or after the time-out message.
    bool SetVar(QString strVarName, QString strNewValue);
    // Reads into strVarValue (left as it was on a time-out); the text after a
    // first "=" is the value.
    bool ShowVar(QString strVarName, QString &strVarValue);
    QString GetError() const;

private:
    TrelkForm &m_host;
};
