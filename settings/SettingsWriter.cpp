#include "settings/SettingsWriter.h"

#include "controller/CLSTrelkCom.h"
#include "settings/SettingsFile.h"

#include <exception>
#include <utility>

SettingsWriter::SettingsWriter(TrelkForm &host, ShowMessage showMessage)
    : m_host(host), m_showMessage(std::move(showMessage))
{
}

SettingsWriter::~SettingsWriter() = default;

void SettingsWriter::SaveSettingsFile(const WriteFile &writeFile)
{
    QString reason;
    if (!writeFile(&reason)) {
        // Nothing was written, so the controller is not asked to reload.
        m_showMessage(QStringLiteral("Cant save ") + QLatin1String(kSettingsDisplayPath) + QStringLiteral("\r\n") +
                      reason);
        return;
    }
    // The file on the disk is the new one, synced or not: the controller
    // must read what stands there.
    requestReload();
    if (!reason.isEmpty())
        m_showMessage(QStringLiteral("Saved ") + QLatin1String(kSettingsDisplayPath) + QStringLiteral("\r\n") +
                      reason);
}

void SettingsWriter::requestReload()
{
    QString error;
    try {
        if (!m_trelkCom)
            m_trelkCom = std::make_unique<CLSTrelkCom>(m_host);
        if (m_trelkCom->SetVar(QStringLiteral("$LOAD_TAVRIN"), QStringLiteral("TRUE")))
            return;
        error = m_trelkCom->GetError();
    } catch (const std::exception &e) {
        // No component, or a failing call: the controller has not reloaded.
        error = QString::fromStdString(e.what());
    }
    m_showMessage(QStringLiteral("SetVar: $LOAD_TAVRIN=TRUE   ....\r\n") + error);
}
