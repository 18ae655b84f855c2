#pragma once

#include "controller/TrelkForm.h"

#include <QString>

#include <functional>
#include <memory>

class CLSTrelkCom;

// Saves the settings file, then asks the controller to reload it, but only a
// file that was saved. Each failure is reported with its message. Holds the
// controller variable client that the first reload request creates.
class SettingsWriter
{
public:
    // Writes the file; false, with the system's reason, when nothing was
    // saved; true with a reason where it was saved but may not yet be on the
    // disk.
    using WriteFile = std::function<bool(QString *reason)>;

    SettingsWriter(TrelkForm &host, ShowMessage showMessage);
    ~SettingsWriter();
    SettingsWriter(const SettingsWriter &) = delete;
    SettingsWriter &operator=(const SettingsWriter &) = delete;

    void SaveSettingsFile(const WriteFile &writeFile);

private:
    void requestReload();

    TrelkForm &m_host;
    const ShowMessage m_showMessage;
    // Created by the first reload request, which connects the controller.
    std::unique_ptr<CLSTrelkCom> m_trelkCom;
};
