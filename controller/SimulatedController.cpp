#include "controller/SimulatedController.h"

#include <QTimer>

#include <cstdio>

namespace {

constexpr int kAnswerDelayMs = 20;

void report(const QString &line)
{
    std::fprintf(stderr, "controller: %s\n", qPrintable(line));
    std::fflush(stderr);
}

} // namespace

SimulatedController::SimulatedController(Mode mode) : m_mode(mode) {}

bool SimulatedController::ConnectClient(const QString &strClient, const QString &, qint32)
{
    const bool connected = m_mode != Mode::Refuse;
    report(QStringLiteral("ConnectClient %1 -> %2").arg(strClient, connected ? "connected" : "refused"));
    return connected;
}

void SimulatedController::DisconnectClient()
{
    report(QStringLiteral("DisconnectClient"));
}

qint16 SimulatedController::startJob(const QString &what, Job job)
{
    m_lastJob = m_lastJob == 32767 ? 1 : qint16(m_lastJob + 1);
    const qint16 number = m_lastJob;
    if (m_mode == Mode::Refuse) {
        job.succeeded = false;
        job.error = QStringLiteral("controller refused the job");
    }
    m_jobs.insert(number, job);
    if (m_mode == Mode::Silent) {
        report(QStringLiteral("%1 -> no answer (job %2)").arg(what).arg(number));
        return number;
    }
    QTimer::singleShot(kAnswerDelayMs, this, [this, what, number] {
        const Job &done = m_jobs[number];
        if (done.error.isEmpty())
            report(QStringLiteral("%1 -> finished (job %2)").arg(what).arg(number));
        else
            report(QStringLiteral("%1 -> failed (job %2): %3").arg(what).arg(number).arg(done.error));
        emit JobFinished(number, done.error.isEmpty() ? 0 : 1);
    });
    return number;
}

qint16 SimulatedController::BeginSetVar(QString &strVarName, QString &strNewValue)
{
    if (m_mode == Mode::Accept)
        m_variables.insert(strVarName.toUpper(), strNewValue);
    return startJob(QStringLiteral("SetVar %1=%2").arg(strVarName, strNewValue), Job{true, {}, {}});
}

qint16 SimulatedController::BeginShowVar(QString &strVarName, const QString &)
{
    const auto found = m_variables.constFind(strVarName.toUpper());
    Job job;
    if (found != m_variables.constEnd())
        job = Job{true, *found, {}};
    else
        job.error = QStringLiteral("unknown variable %1").arg(strVarName);
    return startJob(QStringLiteral("ShowVar %1").arg(strVarName), job);
}

bool SimulatedController::GetSetVarResult(qint16 nJob)
{
    return m_jobs.value(nJob).succeeded;
}

bool SimulatedController::GetShowVarResult(qint16 nJob, QString &strVarValue)
{
    const Job job = m_jobs.value(nJob);
    if (job.succeeded)
        strVarValue = job.value;
    return job.succeeded;
}

void SimulatedController::GetJobError(qint16 &nJob, qint16 &, qint16 &, QString &, QString &, QString &strErrorText)
{
    strErrorText = m_jobs.value(nJob).error;
}
