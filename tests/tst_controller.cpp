#include "QtTestCompat.h"
#include "ScriptedComponent.h"
#include "controller/CLSTrelkCom.h"
#include "controller/ComponentChoice.h"
#include "controller/TrelkForm.h"

#include <limits>


class TestController : public QObject
{
    Q_OBJECT

private slots:
    void waitTimesOut_data();
    void waitTimesOut();
    void waitLimitOverflows_data();
    void waitLimitOverflows();
    void setVarEvents_data();
    void setVarEvents();
    void eventBeforeWaitIsNotSeen();
    void timeoutKeepsLastError();
    void failingJobErrorEndsWait();
    void connectAndUnload_data();
    void connectAndUnload();
    void eventDuringConnectOrDisconnect();
    void showVarTrimming_data();
    void showVarTrimming();
    void showVarTimeoutLeavesValue();
    void componentErrorsPass_data();
    void componentErrorsPass();
    void simulatorAccepts();
    void simulatorRefuses();
    void simulatorStaysSilent();
    void unknownControllerChoice();
};

namespace {

// A host on the simulated controller that a choice names, with its messages
// recorded and its wait's cycles counted.
struct SimulatorHost {
    explicit SimulatorHost(const QString &choice, bool realSleep = true)
        : host([choice] { return CreateSimulatedTrelk1(choice); }, [this](const QString &text) { messages << text; },
               [this, realSleep](int milliseconds) {
                   ++cycles;
                   if (realSleep)
                       TrelkForm::systemSleep(milliseconds);
               })
    {
    }
    ~SimulatorHost() { host.Unload(); }

    QStringList messages;
    int cycles = 0;
    TrelkForm host;
};

} // namespace

void TestController::waitTimesOut_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("cycles");
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("1") << 1 << 11;
    QTest::newRow("10") << 10 << 101;
    QTest::newRow("-1") << -1 << 0;
    QTest::newRow("most negative") << std::numeric_limits<qint32>::min() / 10 << 0;
}

void TestController::waitTimesOut()
{
    QFETCH(int, seconds);
    ScriptedHost script;
    script.host.Load();
    QVERIFY(!script.host.WaitForCommandEnd(seconds));
    QTEST(script.current->cycles, "cycles");
    QCOMPARE(script.messages, QStringList{QStringLiteral("TIMEOUT !!!")});
}

void TestController::waitLimitOverflows_data()
{
    QTest::addColumn<int>("seconds");
    QTest::newRow("too large") << std::numeric_limits<qint32>::max() / 10 + 1;
    QTest::newRow("too small") << std::numeric_limits<qint32>::min() / 10 - 1;
}

void TestController::waitLimitOverflows()
{
    QFETCH(int, seconds);
    ScriptedHost script;
    script.host.Load();
    QVERIFY_THROWS_EXCEPTION(std::overflow_error, script.host.WaitForCommandEnd(seconds));
    QCOMPARE(script.current->cycles, 0);
    QVERIFY(script.messages.isEmpty());
}

void TestController::setVarEvents_data()
{
    QTest::addColumn<Events>("events");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("cycles");
    QTest::addColumn<QStringList>("calls"); // after ConnectClient and BeginSetVar

    // The start call hands out job 5; the component's result answer is false,
    // so a true result can only come from the wait ending and the query answering.
    const QString jobError5 = QStringLiteral("GetJobError(5,0,0,,,)");
    QTest::newRow("finished") << Events{{1, 5, 0}} << false << "" << 1 << QStringList{"GetSetVarResult(5)"};
    QTest::newRow("finished later") << Events{{4, 5, 0}} << false << "" << 4 << QStringList{"GetSetVarResult(5)"};
    QTest::newRow("other job number") << Events{{1, 9, 0}} << false << "" << 1
                                      << QStringList{"GetSetVarResult(9)"};
    QTest::newRow("failed keeps job") << Events{{1, 7, 1}} << false << "E1" << 1
                                      << QStringList{"GetJobError(7,0,0,,,)", "GetSetVarResult(5)"};
    QTest::newRow("status 2 waits on") << Events{{1, 5, 2}, {3, 5, 0}} << false << "" << 3
                                       << QStringList{"GetSetVarResult(5)"};
    QTest::newRow("status -1 only") << Events{{1, 5, -1}} << false << "" << 101 << QStringList{};
    QTest::newRow("no event") << Events{} << false << "" << 101 << QStringList{};
    QTest::newRow("failed then finished") << Events{{1, 5, 1}, {1, 8, 0}} << false << "" << 1
                                          << QStringList{jobError5, "GetSetVarResult(8)"};
    QTest::newRow("finished then failed") << Events{{1, 8, 0}, {1, 5, 1}} << false << "E1" << 1
                                          << QStringList{jobError5, "GetSetVarResult(8)"};
}

void TestController::setVarEvents()
{
    QFETCH(Events, events);
    QFETCH(QStringList, calls);
    ScriptedHost script;
    script.configure = [&](ScriptedComponent &c) {
        c.events = events;
        c.resultAnswer = false;
        c.jobErrorText = QStringLiteral("E1");
    };
    CLSTrelkCom client(script.host);
    QString name = QStringLiteral("$LOAD_TAVRIN");
    QTEST(client.SetVar(name, QStringLiteral("TRUE")), "result");
    QCOMPARE(name, QStringLiteral("$LOAD_TAVRIN")); // the component worked on copies
    QTEST(client.GetError(), "error");
    QTEST(script.current->cycles, "cycles");
    QCOMPARE(script.current->calls,
             QStringList({"ConnectClient(Load_Tavrin,,0)", "BeginSetVar($LOAD_TAVRIN,TRUE)"}) + calls);
    // Without a result query the wait has timed out, with its message.
    QCOMPARE(script.messages, calls.isEmpty() ? QStringList{QStringLiteral("TIMEOUT !!!")} : QStringList{});
}

void TestController::eventBeforeWaitIsNotSeen()
{
    ScriptedHost script;
    TrelkForm &host = script.host;
    host.Load();
    emit script.current->JobFinished(3, 0);
    QCOMPARE(host.myJob, qint16(3));
    QVERIFY(!host.WaitForCommandEnd(0));
    QCOMPARE(script.messages, QStringList{QStringLiteral("TIMEOUT !!!")});
}

void TestController::timeoutKeepsLastError()
{
    ScriptedHost script;
    script.configure = [](ScriptedComponent &c) {
        c.events = {{1, 5, 1}};
        c.jobErrorText = QStringLiteral("E1");
    };
    CLSTrelkCom client(script.host);
    QVERIFY(client.SetVar(QStringLiteral("$A"), QStringLiteral("1")));
    script.current->events.clear();
    QVERIFY(!client.SetVar(QStringLiteral("$A"), QStringLiteral("2")));
    QCOMPARE(client.GetError(), QStringLiteral("E1"));
}

void TestController::failingJobErrorEndsWait()
{
    ScriptedHost script;
    script.configure = [](ScriptedComponent &c) {
        c.events = {{1, 5, 1}};
        c.throwOnJobError = QStringLiteral("no error details");
    };
    CLSTrelkCom client(script.host);
    QVERIFY(client.SetVar(QStringLiteral("$A"), QStringLiteral("1")));
    QCOMPARE(client.GetError(), QStringLiteral("no error details"));
}

void TestController::connectAndUnload_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("connected") << true << QStringList{"ConnectClient(Load_Tavrin,,0)", "DisconnectClient()"};
    QTest::newRow("refused") << false << QStringList{"ConnectClient(Load_Tavrin,,0)"};
}

void TestController::connectAndUnload()
{
    QFETCH(bool, connected);
    ScriptedHost script;
    QStringList calls;
    script.configure = [&](ScriptedComponent &c) {
        c.connectAnswer = connected;
        c.callsWhenGone = &calls;
    };
    {
        CLSTrelkCom first(script.host);
        CLSTrelkCom second(script.host); // the host is loaded already: no second connect
        QCOMPARE(script.host.TrelkIsConnected(), connected);
        QCOMPARE(script.current->calls.size(), 1);
    }
    QVERIFY(!script.host.IsLoaded());
    QVERIFY(!script.host.TrelkIsConnected());
    QTEST(calls, "calls");
}

void TestController::eventDuringConnectOrDisconnect()
{
    ScriptedHost script;
    QStringList calls;
    script.configure = [&](ScriptedComponent &c) {
        c.statusInsideConnect = 1;
        c.statusInsideDisconnect = 1;
        c.jobErrorText = QStringLiteral("busy");
        c.callsWhenGone = &calls;
    };
    {
        CLSTrelkCom client(script.host);
        QCOMPARE(client.GetError(), QStringLiteral("busy"));
    }
    QCOMPARE(calls, (QStringList{"ConnectClient(Load_Tavrin,,0)", "GetJobError(5,0,0,,,)", "DisconnectClient()",
                                 "GetJobError(5,0,0,,,)"}));
}

void TestController::showVarTrimming_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("value");
    QTest::newRow("no =") << " TRUE " << true << " TRUE ";
    QTest::newRow("after =") << "$OV_PRO= 100 " << true << "100";
    QTest::newRow("first = only") << "a = b=c" << true << "b=c";
    QTest::newRow("ends with =") << "$X=" << true << "";
    QTest::newRow("spaces only trimmed") << "=\t7 " << true << "\t7";
    QTest::newRow("also when false") << "x= 5" << false << "5";
}

void TestController::showVarTrimming()
{
    QFETCH(QString, written);
    QFETCH(bool, answer);
    ScriptedHost script;
    script.configure = [&](ScriptedComponent &c) {
        c.events = {{1, 6, 0}};
        c.showVarText = written;
        c.resultAnswer = answer;
    };
    CLSTrelkCom client(script.host);
    QString value = QStringLiteral("before");
    QCOMPARE(client.ShowVar(QStringLiteral("$OV_PRO"), value), answer);
    QTEST(value, "value");
    QCOMPARE(script.current->calls.mid(1),
             QStringList({"BeginShowVar($OV_PRO,)", "GetShowVarResult(6,before)"}));
}

void TestController::showVarTimeoutLeavesValue()
{
    ScriptedHost script;
    CLSTrelkCom client(script.host);
    QString value = QStringLiteral("a=b");
    QVERIFY(!client.ShowVar(QStringLiteral("$X"), value));
    QCOMPARE(value, QStringLiteral("a=b"));
    QCOMPARE(script.messages, QStringList{QStringLiteral("TIMEOUT !!!")});
    QCOMPARE(script.current->calls.size(), 2); // no result query
}

void TestController::componentErrorsPass_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("start call") << "begin";
    QTest::newRow("creating the component") << "create";
}

void TestController::componentErrorsPass()
{
    QFETCH(QString, where);
    ScriptedHost script;
    if (where == QLatin1String("create"))
        script.configure = [](ScriptedComponent &) { throw TrelkError(QStringLiteral("no control")); };
    else
        script.configure = [](ScriptedComponent &c) { c.throwOnBegin = QStringLiteral("no control"); };
    try {
        CLSTrelkCom client(script.host);
        client.SetVar(QStringLiteral("$A"), QStringLiteral("1"));
        QFAIL("no exception");
    } catch (const TrelkError &e) {
        QCOMPARE(e.text(), QStringLiteral("no control"));
    }
    QVERIFY(script.messages.isEmpty());
}

void TestController::simulatorAccepts()
{
    SimulatorHost script(QStringLiteral("accept"));
    CLSTrelkCom client(script.host);
    QVERIFY(script.host.TrelkIsConnected());
    QVERIFY(client.SetVar(QStringLiteral("$LOAD_TAVRIN"), QStringLiteral("TRUE")));
    QString value;
    QVERIFY(client.ShowVar(QStringLiteral("$LOAD_TAVRIN"), value));
    QCOMPARE(value, QStringLiteral("TRUE"));
    QVERIFY(!client.ShowVar(QStringLiteral("$NOT_THERE"), value));
    QCOMPARE(client.GetError(), QStringLiteral("unknown variable $NOT_THERE"));
    QVERIFY(script.messages.isEmpty());
}

void TestController::simulatorRefuses()
{
    SimulatorHost script(QStringLiteral("refuse"));
    CLSTrelkCom client(script.host);
    QVERIFY(!client.SetVar(QStringLiteral("$LOAD_TAVRIN"), QStringLiteral("TRUE")));
    QCOMPARE(client.GetError(), QStringLiteral("controller refused the job"));
    QVERIFY(script.messages.isEmpty());
}

void TestController::simulatorStaysSilent()
{
    SimulatorHost script(QStringLiteral("silent"), false);
    CLSTrelkCom client(script.host);
    QVERIFY(!client.SetVar(QStringLiteral("$LOAD_TAVRIN"), QStringLiteral("TRUE")));
    QCOMPARE(script.cycles, 101);
    QCOMPARE(script.messages, QStringList{QStringLiteral("TIMEOUT !!!")});
}

void TestController::unknownControllerChoice()
{
    SimulatorHost script(QStringLiteral("fast"));
    try {
        CLSTrelkCom client(script.host);
        QFAIL("no exception");
    } catch (const TrelkError &e) {
        QVERIFY2(e.text().contains(QLatin1String("accept, refuse, silent")), qPrintable(e.text()));
        QVERIFY(e.text().contains(QLatin1String("fast")));
    }
    QVERIFY(!script.host.IsLoaded());
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
