// The program as it ships, with a controller component that misbehaves as
// TAVRIN_FAULT says (unset: the shipped choice), for tests at the process
// level. Messages go to standard error as "message: TEXT", as if OK were
// pressed at once, and "status: restored" is printed whenever the status line
// goes blank again, so a driver can tell when an Apply has ended.
#include "app/Startup.h"
#include "editor/Tavrin.h"
#include "settings/SettingsFile.h"

#include <QLabel>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString &line)
{
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

// Finishes every job with the events of its fault, 20 ms after the start.
class FaultComponent : public TrelkComponent
{
public:
    explicit FaultComponent(QByteArray fault) : m_fault(std::move(fault)) {}

    bool ConnectClient(const QString &, const QString &, qint32) override { return true; }
    void DisconnectClient() override {}
    qint16 BeginShowVar(QString &, const QString &) override { return start(); }
    bool GetShowVarResult(qint16 nJob, QString &) override { return result(nJob); }
    qint16 BeginSetVar(QString &, QString &) override { return start(); }
    bool GetSetVarResult(qint16 nJob) override { return result(nJob); }
    void GetJobError(qint16 &nJob, qint16 &, qint16 &, QString &, QString &, QString &strErrorText) override
    {
        if (m_fault == "raise-in-event")
            throw TrelkError(QStringLiteral("GetJobError failed"));
        strErrorText = QStringLiteral("job %1 failed").arg(nJob);
    }

private:
    qint16 start()
    {
        if (m_fault == "raise")
            throw TrelkError(QStringLiteral("call failed: the controller is not reachable"));
        const qint16 job = ++m_job;
        if (m_fault == "early-event") {
            emit JobFinished(job, 0); // inside the start call: too early to be seen
            return job;
        }
        QList<QPair<qint16, qint32>> events;
        if (m_fault == "status-2")
            events = {{job, 2}};
        else if (m_fault == "foreign-job")
            events = {{qint16(job + 100), 0}};
        else if (m_fault == "two-events")
            events = {{job, 1}, {qint16(job + 100), 0}};
        else if (m_fault == "raise-in-event")
            events = {{job, 1}};
        QTimer::singleShot(20, this, [this, events] {
            for (const auto &[number, status] : events)
                emit JobFinished(number, status);
        });
        return job;
    }
    // Only the job number of a finished event's report counts as done.
    bool result(qint16 nJob)
    {
        say(QStringLiteral("fault: result query for job %1").arg(nJob));
        return m_fault != "raise-in-event" && nJob > 100;
    }

    QByteArray m_fault;
    qint16 m_job = 0;
};

} // namespace

int main(int argc, char **argv)
{
    // A test program: its drive C: is always a folder the test gave it.
    const QString driveC = qEnvironmentVariable("TAVRIN_DRIVE_C");
    if (driveC.isEmpty()) {
        std::fputs("tavrin_faults: TAVRIN_DRIVE_C must name the test's drive C: folder\n", stderr);
        return 2;
    }
    StartupOptions options;
    options.settingsFilePath = settingsFileOnDrive(driveC);

    const QByteArray fault = qgetenv("TAVRIN_FAULT");
    if (fault == "no-component")
        options.createTrelk1 = []() -> std::unique_ptr<TrelkComponent> {
            throw TrelkError("TrelkLib.Trelk is not registered");
        };
    else if (!fault.isEmpty())
        options.createTrelk1 = [fault] { return std::make_unique<FaultComponent>(fault); };

    QLabel *info = nullptr;
    QString shown; // the status line as last seen
    options.showMessage = [&](const QString &text) {
        if (info)
            shown = info->text();
        QString line = text;
        say(QStringLiteral("message: ") + line.replace(QLatin1String("\r\n"), QLatin1String("\\r\\n")));
    };
    options.windowMade = [&](Tavrin &window) {
        info = window.findChild<QLabel *>(QStringLiteral("Info"));
        auto *watch = new QTimer(&window);
        QObject::connect(watch, &QTimer::timeout, [&] {
            if (!shown.isEmpty() && info->text().isEmpty())
                say(QStringLiteral("status: restored"));
            shown = info->text();
        });
        watch->start(5);
    };
    return runTavrin(argc, argv, options);
}
