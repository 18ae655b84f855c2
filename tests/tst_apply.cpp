#include "ScriptedComponent.h"
#include "FileSizeLimit.h"
#include "WindowFixture.h"
#include "settings/SettingsWriter.h"

namespace {

const QString kStatus = QStringLiteral("SAVEING BACKWARD.INI ...");
const QString kRefused = QStringLiteral("SetVar: $LOAD_TAVRIN=TRUE   ....\r\n");
const QString kCantSave = QStringLiteral("Cant save C:\\QEL\\Roboter\\Init\\Backward.ini\r\n");
const QColor kRed(255, 0, 0);

struct LabelState {
    QString text;
    QColor colour;
};

LabelState labelState(const WindowFixture &f)
{
    auto *info = f.control<QLabel>("Info");
    return {info->text(), info->palette().color(QPalette::WindowText)};
}

} // namespace

class TestApply : public QObject
{
    Q_OBJECT

private slots:
    void writerReloadsOnlySavedFile_data();
    void writerReloadsOnlySavedFile();
    void controllerOutcomes_data();
    void controllerOutcomes();
    void missingFile();
    void noFileGivenReachesNoFile();
    void readOnlyFile();
    void writeFailsPartWay();
    void componentCannotBeCreated();
    void enterFiltersFocusedCount();
    void buttonLeavesFocusedCount_data();
    void buttonLeavesFocusedCount();
    void savingTwiceIsIdentical();
    void nestedApplyRestoresRealState();
};

void TestApply::writerReloadsOnlySavedFile_data()
{
    QTest::addColumn<bool>("saved");
    QTest::addColumn<qint32>("status"); // of the job's finished event
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("save fails") << false << 0 << QStringList{kCantSave + "No space left on device"};
    QTest::newRow("reloaded") << true << 0 << QStringList{};
    QTest::newRow("reload refused") << true << 1 << QStringList{kRefused + "Variable is write protected"};
}

// The writer on its own, without a window: the reload request follows only a save.
void TestApply::writerReloadsOnlySavedFile()
{
    QFETCH(bool, saved);
    QFETCH(qint32, status);
    ScriptedHost script;
    script.configure = [status](ScriptedComponent &c) {
        c.events = {{1, 5, status}};
        c.resultAnswer = status == 0;
        c.jobErrorText = QStringLiteral("Variable is write protected");
    };
    SettingsWriter writer(script.host, script.messageSink());
    writer.SaveSettingsFile([saved](QString *reason) {
        if (!saved)
            *reason = QStringLiteral("No space left on device");
        return saved;
    });
    QTEST(script.messages, "messages");
    QCOMPARE(script.current && script.current->calls.contains("BeginSetVar($LOAD_TAVRIN,TRUE)"), saved);
}

void TestApply::controllerOutcomes_data()
{
    QTest::addColumn<Events>("events");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("confirmed") << Events{{2, 5, 0}} << true << QStringList{};
    QTest::newRow("refused") << Events{{1, 5, 1}} << false
                             << QStringList{kRefused + "job failed: $LOAD_TAVRIN"};
    QTest::newRow("answered false") << Events{{1, 5, 0}} << false
                                    << QStringList{kRefused};
    QTest::newRow("time-out") << Events{} << true
                              << QStringList{QStringLiteral("TIMEOUT !!!"), kRefused};
}

void TestApply::controllerOutcomes()
{
    QFETCH(Events, events);
    QFETCH(bool, answer);
    WindowFixture f;
    ScriptedHost &script = f.script;
    script.configure = [&](ScriptedComponent &c) {
        c.events = events;
        c.resultAnswer = answer;
        c.jobErrorText = QStringLiteral("job failed: $LOAD_TAVRIN");
    };
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    const LabelState before = labelState(f);
    QCOMPARE(before.text, QString());

    QList<LabelState> whileWaiting;
    script.sleep = [&, countCycle = script.sleep](int ms) {
        countCycle(ms);
        whileWaiting << labelState(f);
    };
    QList<LabelState> duringMessages;
    script.showMessage = [&, record = script.showMessage](const QString &text) {
        record(text);
        duringMessages << labelState(f);
    };
    f.check("O_Check_SetToFalse")->setChecked(true);
    QTest::keyClick(f.control("T_Check_Enable"), Qt::Key_Return);

    QTEST(f.messages, "messages");
    QVERIFY(f.fileBytes().contains("SET_TO_FALSE = TRUE\r\n"));
    QCOMPARE(script.current->calls.mid(0, 2),
             QStringList({"ConnectClient(Load_Tavrin,,0)", "BeginSetVar($LOAD_TAVRIN,TRUE)"}));
    QVERIFY(!whileWaiting.isEmpty());
    for (const LabelState &seen : std::as_const(whileWaiting) + duringMessages) {
        QCOMPARE(seen.text, kStatus);
        QCOMPARE(seen.colour, kRed);
    }
    QCOMPARE(labelState(f).text, before.text);
    QCOMPARE(labelState(f).colour, before.colour);
    QCOMPARE(QApplication::focusWidget(), f.control("T_Check_Enable"));
}

void TestApply::missingFile()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    QVERIFY(f.open());
    f.messages.clear();
    QTest::keyClick(f.control("T_Check_Enable"), Qt::Key_Return);
    QCOMPARE(f.messages.size(), 1);
    QVERIFY(f.messages[0].startsWith(kCantSave));
    QVERIFY(f.messages[0].size() > kCantSave.size()); // with the system's reason
    QVERIFY(!QFile::exists(f.filePath()));
    QVERIFY(!script.current); // no reload request, not even a connection
    QCOMPARE(labelState(f).text, QString());
}

// Only the program names the controller's file; a window made without one
// must neither read nor write any file, whatever the platform.
void TestApply::noFileGivenReachesNoFile()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    QVERIFY(f.open(QString()));
    QTest::keyClick(f.control("T_Check_Enable"), Qt::Key_Return);
    QCOMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages[0], QStringLiteral("Cant open C:\\QEL\\Roboter\\Init\\Backward.ini"));
    QVERIFY(f.messages[1].startsWith(kCantSave));
    QVERIFY(!script.current);
}

void TestApply::readOnlyFile()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    script.configure = [](ScriptedComponent &c) { c.events = {{1, 5, 0}}; };
    QVERIFY(f.writeFile(kAllEnabledFile));
    QFile::setPermissions(f.filePath(), QFileDevice::ReadOwner);
    QVERIFY(f.open());
    QFile::setPermissions(f.filePath(), QFileDevice::ReadOwner); // the load made it writable
    QTest::mouseClick(f.control("btnApply"), Qt::LeftButton);
    QVERIFY(f.messages.isEmpty());
    QVERIFY(f.fileBytes().startsWith("\r\n\r\n[TRACE]\r\nENABLE = TRUE\r\n"));
    QVERIFY(QFile::permissions(f.filePath()) & QFileDevice::WriteOwner);
}

void TestApply::writeFailsPartWay()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    QByteArray big;
    for (int i = 0; i < 5000; ++i)
        big += "; a long comment block\r\n";
    QVERIFY(f.writeFile(big + kAllEnabledFile));
    QVERIFY(f.open());
    const QByteArray before = f.fileBytes();

    {
        const FileSizeLimit fullDisk(16 * 1024);
        if (!fullDisk.isSet())
            QSKIP("no file size limit on this platform");
        f.window->Apply();
    }

    QCOMPARE(f.messages.size(), 1);
    QVERIFY2(f.messages.first().startsWith(kCantSave), qPrintable(f.messages.first()));
    QVERIFY(f.messages.first().size() > kCantSave.size()); // with the system's reason
    QCOMPARE(f.fileBytes(), before);
    QVERIFY(!script.current); // no reload request
    QCOMPARE(labelState(f).text, QString());
}

void TestApply::componentCannotBeCreated()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    int attempts = 0;
    script.configure = [&attempts](ScriptedComponent &) {
        ++attempts;
        throw TrelkError(QStringLiteral("TrelkLib.Trelk is not registered"));
    };
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    f.window->Apply();
    f.window->Apply();
    const QString notRegistered = kRefused + "TrelkLib.Trelk is not registered";
    QCOMPARE(f.messages, QStringList({notRegistered, notRegistered}));
    QCOMPARE(attempts, 2); // each Apply tries the link again
    QVERIFY(f.fileBytes().startsWith("\r\n\r\n[TRACE]"));
    QCOMPARE(labelState(f).text, QString());
}

void TestApply::enterFiltersFocusedCount()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    script.configure = [](ScriptedComponent &c) { c.events = {{1, 5, 0}}; };
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    QLineEdit *movements = f.text("T_Text_Movements");
    movements->setFocus(Qt::TabFocusReason);
    movements->setText(QStringLiteral("9x9"));
    QTest::keyClick(movements, Qt::Key_Return);
    QVERIFY(f.fileBytes().contains("\r\nMOVEMENTS = 60\r\n"));
    QCOMPARE(movements->text(), QStringLiteral("60"));
    QCOMPARE(QApplication::focusWidget(), movements);
}

void TestApply::buttonLeavesFocusedCount_data()
{
    QTest::addColumn<bool>("shortcut");
    QTest::newRow("click") << false;
    QTest::newRow("Alt+A") << true;
}

void TestApply::buttonLeavesFocusedCount()
{
    QFETCH(bool, shortcut);
    WindowFixture f;
    ScriptedHost &script = f.script;
    script.configure = [](ScriptedComponent &c) { c.events = {{1, 5, 0}}; };
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    QLineEdit *cycflags = f.text("T_Text_Cycflags");
    cycflags->setFocus(Qt::TabFocusReason);
    cycflags->setText(QStringLiteral("7a"));
    if (shortcut)
        QTest::keyClick(f.window->windowHandle(), Qt::Key_A, Qt::AltModifier);
    else
        QTest::mouseClick(f.control("btnApply"), Qt::LeftButton);
    QTRY_VERIFY2(f.fileBytes().contains("\r\nCYCFLAGS = 7\r\n"), f.fileBytes().constData());
    QCOMPARE(cycflags->text(), QStringLiteral("7"));
    QCOMPARE(QApplication::focusWidget(), f.control("btnApply"));
}

void TestApply::savingTwiceIsIdentical()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    script.configure = [](ScriptedComponent &c) { c.events = {{1, 5, 0}}; };
    QVERIFY(f.writeFile("; site note\r\n[trace]\r\nenable = true\r\n[ofc]\r\ntrace = no_trace\r\n"));
    QVERIFY(f.open());
    f.window->Apply();
    const QByteArray first = f.fileBytes();
    QVERIFY(first.startsWith("; SITE NOTE\r\n\r\n\r\n[TRACE]\r\nENABLE = TRUE\r\n"));
    f.window->Apply();
    QCOMPARE(f.fileBytes(), first);
    QVERIFY(f.messages.isEmpty());
}

void TestApply::nestedApplyRestoresRealState()
{
    WindowFixture f;
    ScriptedHost &script = f.script;
    script.configure = [](ScriptedComponent &c) { c.events = {{1, 5, 0}}; };
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    f.window->Apply(); // connects
    LabelState afterInner;
    bool nested = false;
    const auto countCycle = script.sleep;
    script.sleep = [&](int ms) {
        countCycle(ms);
        if (!std::exchange(nested, true)) {
            f.window->Apply(); // as a second Enter handled during the wait would
            afterInner = labelState(f);
        }
    };
    f.window->Apply();
    script.sleep = countCycle;
    QVERIFY(nested);
    QCOMPARE(afterInner.text, kStatus);
    QCOMPARE(afterInner.colour, kRed);
    QCOMPARE(labelState(f).text, QString());
    QVERIFY(labelState(f).colour != kRed);
    QVERIFY(f.messages.isEmpty());
}

QTEST_MAIN(TestApply)
#include "tst_apply.moc"
