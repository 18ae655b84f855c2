#pragma once

// The maker's controller-communication control on Windows, hosted as a hidden
// form hosts it: created by its ProgID (with its licence key where it is a
// licensed one), sited and activated in place on a hidden window, called by
// dispatch id, and with its job-finished event. Plain Win32 and COM, no Qt.
// Failing calls throw TrelkControlError with a UTF-8 text that says why.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

class TrelkControlError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class TrelkControl
{
public:
    // Called when the control fires the event: while the thread pumps window
    // messages, or inside a call if the control fires it there.
    using JobFinishedHandler = std::function<void(short nJob, long nStatus)>;

    // Needs OLE initialised on this thread. Throws when the control is not
    // registered or cannot be hosted.
    TrelkControl(const wchar_t *progId, JobFinishedHandler onJobFinished);
    ~TrelkControl();
    TrelkControl(const TrelkControl &) = delete;
    TrelkControl &operator=(const TrelkControl &) = delete;

    bool ConnectClient(const std::wstring &strClient, const std::wstring &strParam, long nParam);
    void DisconnectClient();
    short BeginShowVar(std::wstring &strVarName, const std::wstring &strParam);
    bool GetShowVarResult(short nJob, std::wstring &strVarValue);
    short BeginSetVar(std::wstring &strVarName, std::wstring &strNewValue);
    bool GetSetVarResult(short nJob);
    void GetJobError(short &nJob, short &nCode1, short &nCode2, std::wstring &strText1, std::wstring &strText2,
                     std::wstring &strErrorText);

private:
    struct Host;
    std::unique_ptr<Host> m_host;
};
