#include "controller/TrelkForm.h"

#include <QCoreApplication>
#include <QThread>

#include <stdexcept>
#include <utility>

TrelkForm::TrelkForm(ComponentFactory createTrelk1, ShowMessage showMessage, Sleep sleep)
    : m_createTrelk1(std::move(createTrelk1)), m_showMessage(std::move(showMessage)), m_sleep(std::move(sleep))
{
    setObjectName(QStringLiteral("Trelk"));
}

void TrelkForm::systemSleep(int milliseconds)
{
    QThread::msleep(milliseconds);
}

void TrelkForm::Load()
{
    if (m_trelk1)
        return;
    // Held before the connect request: a control may deliver a job's event
    // while that call runs, and its handler needs the component.
    m_trelk1 = m_createTrelk1();
    connect(m_trelk1.get(), &TrelkComponent::JobFinished, this, &TrelkForm::onJobFinished);
    try {
        bConnected = m_trelk1->ConnectClient(QStringLiteral("Load_Tavrin"), QString(), 0);
    } catch (...) {
        m_trelk1.reset();
        throw;
    }
}

void TrelkForm::Unload()
{
    if (!m_trelk1 || m_unloading)
        return;
    // The unload is never refused; the component goes whatever it answers,
    // and stays reachable for an event delivered during the disconnect.
    m_unloading = true;
    const bool wasConnected = std::exchange(bConnected, false);
    // Its answer is not used, and a client's destructor must not throw.
    try {
        if (wasConnected)
            m_trelk1->DisconnectClient();
    } catch (const std::exception &) {
    }
    m_trelk1.reset();
    m_unloading = false;
}

TrelkComponent &TrelkForm::Trelk1()
{
    Load();
    return *m_trelk1;
}

void TrelkForm::onJobFinished(qint16 nJob, qint32 nStatus)
{
    strError.clear();
    if (nStatus == 0) {
        bCommandEnded = true;
        myJob = nJob;
    } else if (nStatus == 1) {
        qint16 job = nJob;
        qint16 code1 = 0;
        qint16 code2 = 0;
        QString text1, text2, errorText;
        // This runs inside the event loop, where an exception must not pass.
        try {
            m_trelk1->GetJobError(job, code1, code2, text1, text2, errorText);
        } catch (const std::exception &e) {
            errorText = QString::fromStdString(e.what());
        }
        strError = errorText;
        bCommandEnded = true;
    }
}

bool TrelkForm::WaitForCommandEnd(qint32 nSeconds)
{
    // Ten polling cycles a second, counted in a 32-bit number.
    const qint64 limit = qint64(nSeconds) * 10;
    if (limit != qint32(limit))
        throw std::overflow_error("Overflow");
    bCommandEnded = false;
    for (qint64 cycle = 0;; ++cycle) {
        if (cycle > limit) {
            m_showMessage(QStringLiteral("TIMEOUT !!!"));
            return false;
        }
        m_sleep(100);
        QCoreApplication::processEvents();
        if (bCommandEnded)
            return true;
    }
}
