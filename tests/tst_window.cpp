#include "QtTestCompat.h"
#include "WindowFixture.h"
#include "app/MessageBoxes.h"

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>

namespace {

const char *const kDependent[] = {"T_Text_Movements", "T_Text_Cycflags", "T_Combo_FinishedSub",
                                  "O_Check_SetToFalse", "O_Combo_Trace",  "O_Combo_Restore",
                                  "G_Check_Backwardstart", "G_Check_ImplicitBCO", "G_CheckQuitMess"};

// Enabled states of the nine dependent controls, as a string of 0 and 1.
QString enabledStates(const WindowFixture &f)
{
    QString states;
    for (const char *name : kDependent)
        states += f.control(name)->isEnabled() ? u'1' : u'0';
    return states;
}

QByteArray fileWith(bool trace, bool scan, const QByteArray &traceOption)
{
    return QByteArray("[TRACE]\r\nENABLE = ") + (trace ? "TRUE" : "FALSE") + "\r\n[SCAN]\r\nENABLE = " +
           (scan ? "TRUE" : "FALSE") + "\r\n[OFC]\r\nTRACE = " + traceOption + "\r\n";
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void startUp_data();
    void startUp();
    void layout();
    void geometry_data();
    void geometry();
    void toolTips_data();
    void toolTips();
    void rulesAtStartUp_data();
    void rulesAtStartUp();
    void rulesAfterClicks_data();
    void rulesAfterClicks();
    void rulesKeepValues();
    void tabOrder_data();
    void tabOrder();
    void closingEndsProgram_data();
    void closingEndsProgram();
    void checkBoxFocusColours();
    void focusColourShowsAroundBox_data();
    void focusColourShowsAroundBox();
    void markSurvivesMessageBox();
    void numericEntry_data();
    void numericEntry();
    void enteringSelectsWholeText();
    void loadedCountStaysUntilLeft();
    void longCountRoundTrips();
    void enterRunsApplyWithoutMovingFocus();
    void keysInOpenList_data();
    void keysInOpenList();
};

void TestWindow::startUp_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no file at all
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("traceChecked");
    QTest::addColumn<QString>("movements");
    QTest::addColumn<QString>("restore");
    QTest::addColumn<QByteArray>("comments");

    const QStringList cantOpen{QStringLiteral("Cant open C:\\QEL\\Roboter\\Init\\Backward.ini")};
    QTest::newRow("no file") << QByteArray() << cantOpen << false << "30" << "AT_BWD" << QByteArray();
    QTest::newRow("fails part-way") << QByteArray(";c\r\n[TRACE]\r\nENABLE=TRUE\r\nMOVEMENTS=7\r\n[OFC]\r\n"
                                                  "TRACE = AT_BWDSTART\r\nRESTORE = AT_FWD\r\n")
                                    << cantOpen << true << "7" << "AT_BWD" << QByteArray(";C\r\n");
    QTest::newRow("complete") << QByteArray("[OFC]\r\nRESTORE = AT_FWD\r\n[TRACE]\r\nMOVEMENTS = 45\r\n")
                              << QStringList() << false << "45" << "AT_FWD" << QByteArray();
}

void TestWindow::startUp()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, messages);
    WindowFixture f;
    if (!file.isEmpty())
        QVERIFY(f.writeFile(file));
    QVERIFY(f.open());
    QCOMPARE(f.messages, messages);
    QTEST(f.check("T_Check_Enable")->isChecked(), "traceChecked");
    QTEST(f.text("T_Text_Movements")->text(), "movements");
    QCOMPARE(f.text("T_Text_Cycflags")->text(), QStringLiteral("5"));
    QTEST(f.list("O_Combo_Restore")->currentText(), "restore");
    QCOMPARE(f.list("T_Combo_FinishedSub")->currentText(), QStringLiteral("SKIP"));
    QCOMPARE(f.list("O_Combo_Trace")->currentText(), QStringLiteral("AT_LEAVING"));
    QCOMPARE(f.list("O_Combo_Trace")->count(), 2);
    QCOMPARE(QApplication::focusWidget(), f.control("T_Check_Enable"));
    QCOMPARE(WindowFixture::background(f.control("T_Check_Enable")), kBlue);
    QVERIFY(!QFile::exists(f.filePath()) || !file.isEmpty()); // a failed load creates nothing

    // The comment block the load kept is what a save writes first.
    if (file.isEmpty())
        QVERIFY(f.writeFile({}));
    f.window->Apply();
    QFETCH(QByteArray, comments);
    QVERIFY2(f.fileBytes().startsWith(comments + "\r\n\r\n[TRACE]\r\n"), f.fileBytes().constData());
}

void TestWindow::layout()
{
    WindowFixture f;
    QVERIFY(f.open());
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Edit: Backward.ini"));
    QCOMPARE(f.window->size(), QSize(393, 340));
    QCOMPARE(f.window->minimumSize(), f.window->maximumSize());
    QVERIFY(f.window->windowFlags().testFlag(Qt::Tool));
    QVERIFY(!f.window->windowFlags().testFlag(Qt::WindowMinMaxButtonsHint));
    QCOMPARE(f.control("btnApply")->geometry(), QRect(296, 224, 65, 25));
    QCOMPARE(f.control("T_Combo_FinishedSub")->geometry(), QRect(248, 64, 137, 21));
    QCOMPARE(f.control("G_QuitMess")->pos(), QPoint(104, 272)); // its width follows the face
    QCOMPARE(f.control("Info")->geometry(), QRect(40, 312, 313, 25));
    QCOMPARE(f.control<QLabel>("Label6")->text(), QStringLiteral("GENERAL:"));
    QCOMPARE(f.control("Label6")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QCOMPARE(f.control<QLabel>("Info")->text(), QString());
    QCOMPARE(WindowFixture::background(f.control("S_Check_Enable")), kLightGrey);
    const QRect screen = f.window->screen()->availableGeometry();
    QVERIFY2(qAbs(f.window->geometry().center().x() - screen.center().x()) <= 2,
             qPrintable(QStringLiteral("%1 in %2").arg(f.window->geometry().center().x()).arg(screen.center().x())));
}

void TestWindow::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("designed"); // pixels of the design's twips
    const std::pair<const char *, QRect> rows[] = {
        {"T_Check_Enable", {248, 16, 15, 17}},       {"T_Text_Movements", {248, 40, 25, 19}},
        {"T_Combo_FinishedSub", {248, 64, 137, 21}}, {"T_Text_Cycflags", {248, 88, 25, 19}},
        {"O_Check_SetToFalse", {248, 112, 17, 17}},  {"O_Combo_Trace", {248, 136, 137, 21}},
        {"O_Combo_Restore", {248, 160, 137, 21}},    {"S_Check_Enable", {248, 192, 15, 17}},
        {"G_Check_Backwardstart", {248, 224, 17, 17}}, {"G_Check_ImplicitBCO", {248, 248, 17, 17}},
        {"btnApply", {296, 224, 65, 25}},            {"G_CheckQuitMess", {248, 272, 17, 17}},
        {"Label1", {8, 8, 62, 19}},                  {"T_Enable", {104, 16, 44, 15}},
        {"T_Movements", {104, 40, 72, 15}},          {"T_Finished_Sub", {104, 64, 79, 15}},
        {"T_Cycflags", {104, 88, 55, 15}},           {"Label3", {8, 112, 40, 19}},
        {"O_Set_to_False", {104, 112, 80, 15}},      {"O_TraceIt", {104, 136, 36, 15}},
        {"O_RestoreIt", {104, 160, 48, 15}},         {"Label2", {8, 192, 52, 19}},
        {"S_Enable", {104, 192, 44, 15}},            {"Label6", {8, 224, 85, 19}},
        {"G_Backwardst", {104, 224, 88, 15}},        {"G_ImplBCO", {104, 248, 76, 15}},
        {"G_QuitMess", {104, 272, 121, 17}},         {"Info", {40, 312, 313, 25}},
    };
    for (const auto &[name, rect] : rows)
        QTest::newRow(name) << QString::fromLatin1(name) << rect;
}

void TestWindow::geometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, designed);
    WindowFixture f;
    f.make();
    QWidget *w = f.window->findChild<QWidget *>(name);
    QVERIFY(w);
    auto *label = qobject_cast<QLabel *>(w);
    if (!label || name == QLatin1String("Info")) {
        QCOMPARE(w->geometry(), designed);
        return;
    }
    // A label may grow to the right where its face needs it, never into the controls.
    QCOMPARE(w->pos(), designed.topLeft());
    QCOMPARE(w->height(), designed.height());
    QCOMPARE_GE(w->width(), designed.width());
    QCOMPARE_GE(w->width(), label->fontMetrics().horizontalAdvance(label->text()));
    QVERIFY(w->geometry().right() < 248);
}

void TestWindow::toolTips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");
    const QString trace = QStringLiteral("ENABLES TRACE FOR BACKWARD MOTION");
    const QString scan = QStringLiteral("ENABLES SCAN FOR BACKWARD MOTION");
    const QString movements = QStringLiteral("THE NUMBER OF MOVEMENTS TO BE TRACED (0...60)");
    const QString cycflags = QStringLiteral("THE NUMBER OF $CYCFLAGS TO BE TRACED (0...26)");
    const std::pair<const char *, QString> rows[] = {
        {"T_Check_Enable", trace},
        {"T_Enable", trace},
        {"S_Check_Enable", scan},
        {"S_Enable", scan},
        {"T_Text_Movements", movements},
        {"T_Movements", movements},
        {"T_Text_Cycflags", cycflags},
        {"T_Cycflags", cycflags},
        {"T_Finished_Sub", QStringLiteral("REACTION ON FINISHED SUBROUTINES")},
    };
    for (const auto &[name, tip] : rows)
        QTest::newRow(name) << QString::fromLatin1(name) << tip;
    for (const char *name : {"T_Combo_FinishedSub", "O_Combo_Trace", "O_Combo_Restore", "O_Check_SetToFalse",
                             "G_Check_Backwardstart", "G_Check_ImplicitBCO", "G_CheckQuitMess", "O_Set_to_False",
                             "O_TraceIt", "O_RestoreIt", "G_Backwardst", "G_ImplBCO", "G_QuitMess", "Label1",
                             "Label2", "Label3", "Label6", "Info", "btnApply"})
        QTest::newRow(name) << QString::fromLatin1(name) << QString();
}

void TestWindow::toolTips()
{
    QFETCH(QString, name);
    WindowFixture f;
    f.make();
    QWidget *w = f.window->findChild<QWidget *>(name);
    QVERIFY(w);
    QTEST(w->toolTip(), "tip");
}

void TestWindow::rulesAtStartUp_data()
{
    QTest::addColumn<bool>("trace");
    QTest::addColumn<bool>("scan");
    QTest::addColumn<QByteArray>("option");
    QTest::addColumn<QString>("states");
    // Order: movements, cycflags, finished-sub, set-to-false, trace, restore, three general switches.
    QTest::newRow("off off leaving") << false << false << QByteArray("AT_LEAVING") << "000000000";
    QTest::newRow("off off no trace") << false << false << QByteArray("NO_TRACE") << "000000000";
    QTest::newRow("off on leaving") << false << true << QByteArray("AT_LEAVING") << "000000111";
    QTest::newRow("off on no trace") << false << true << QByteArray("NO_TRACE") << "000000111";
    QTest::newRow("on off leaving") << true << false << QByteArray("AT_LEAVING") << "111111111";
    QTest::newRow("on off no trace") << true << false << QByteArray("NO_TRACE") << "111110111";
    QTest::newRow("on on leaving") << true << true << QByteArray("AT_LEAVING") << "111111111";
    QTest::newRow("on on no trace") << true << true << QByteArray("NO_TRACE") << "111110111";
}

void TestWindow::rulesAtStartUp()
{
    QFETCH(bool, trace);
    QFETCH(bool, scan);
    QFETCH(QByteArray, option);
    WindowFixture f;
    QVERIFY(f.writeFile(fileWith(trace, scan, option)));
    QVERIFY(f.open());
    QTEST(enabledStates(f), "states");
    QVERIFY(f.control("T_Check_Enable")->isEnabled());
    QVERIFY(f.control("S_Check_Enable")->isEnabled());
    QVERIFY(f.control("btnApply")->isEnabled());
    QVERIFY(f.control("T_Movements")->isEnabled()); // labels are never greyed out
}

void TestWindow::rulesAfterClicks_data()
{
    rulesAtStartUp_data();
}

void TestWindow::rulesAfterClicks()
{
    QFETCH(bool, trace);
    QFETCH(bool, scan);
    QFETCH(QByteArray, option);
    WindowFixture f;
    // Start from the opposite of every input, then change them as a user would.
    QVERIFY(f.writeFile(fileWith(!trace, !scan, option == "NO_TRACE" ? "AT_LEAVING" : "NO_TRACE")));
    QVERIFY(f.open());
    f.check("T_Check_Enable")->click();
    f.check("S_Check_Enable")->click();
    f.list("O_Combo_Trace")->setCurrentText(QString::fromLatin1(option));
    QTEST(enabledStates(f), "states");
}

void TestWindow::rulesKeepValues()
{
    WindowFixture f;
    QVERIFY(f.writeFile("[TRACE]\r\nENABLE=TRUE\r\nMOVEMENTS=44\r\n[OFC]\r\nSET_TO_FALSE=TRUE\r\nRESTORE=AT_FWD\r\n"
                        "[GENERAL]\r\nIMPLICIT_BCO=TRUE\r\n"));
    QVERIFY(f.open());
    f.check("T_Check_Enable")->click();
    QCOMPARE(enabledStates(f), QStringLiteral("000000000"));
    QCOMPARE(f.text("T_Text_Movements")->text(), QStringLiteral("44"));
    QVERIFY(f.check("O_Check_SetToFalse")->isChecked());
    QVERIFY(f.check("G_Check_ImplicitBCO")->isChecked());
    QCOMPARE(f.list("O_Combo_Restore")->currentText(), QStringLiteral("AT_FWD"));
    f.window->ApplyEnablingRules();
    QCOMPARE(enabledStates(f), QStringLiteral("000000000"));
    f.check("T_Check_Enable")->click();
    QCOMPARE(enabledStates(f), QStringLiteral("111111111"));
}

void TestWindow::tabOrder_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("all enabled") << kAllEnabledFile
                                 << QStringList{"T_Text_Movements", "T_Combo_FinishedSub", "T_Text_Cycflags",
                                                "O_Check_SetToFalse", "O_Combo_Trace", "O_Combo_Restore",
                                                "S_Check_Enable", "G_Check_Backwardstart", "G_Check_ImplicitBCO",
                                                "btnApply", "G_CheckQuitMess", "T_Check_Enable"};
    QTest::newRow("trace and scan off") << QByteArray("[TRACE]\r\nENABLE=FALSE\r\n")
                                        << QStringList{"S_Check_Enable", "btnApply", "T_Check_Enable"};
}

void TestWindow::tabOrder()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, order);
    WindowFixture f;
    QVERIFY(f.writeFile(file));
    QVERIFY(f.open());
    QStringList visited;
    for (qsizetype i = 0; i < order.size(); ++i) {
        WindowFixture::pressTab();
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, order);
}

void TestWindow::closingEndsProgram_data()
{
    QTest::addColumn<QString>("focus"); // empty: the close box
    QTest::newRow("escape on check box") << "T_Check_Enable";
    QTest::newRow("escape in text box") << "T_Text_Movements";
    QTest::newRow("escape on list") << "O_Combo_Trace";
    QTest::newRow("escape on button") << "btnApply";
    QTest::newRow("close box") << QString();
}

void TestWindow::closingEndsProgram()
{
    QFETCH(QString, focus);
    WindowFixture f;
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    f.text("T_Text_Movements")->setText(QStringLiteral("12"));
    if (focus.isEmpty()) {
        f.window->close();
    } else {
        QWidget *w = f.window->findChild<QWidget *>(focus);
        w->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w, Qt::Key_Escape);
    }
    QCOMPARE(f.programEnds, 1);
    QCOMPARE(f.fileBytes(), kAllEnabledFile); // unsaved edits are dropped
}

void TestWindow::checkBoxFocusColours()
{
    WindowFixture f;
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    QWidget *general = f.control("G_Check_Backwardstart");
    QVERIFY(WindowFixture::background(general) != kLightGrey); // design: default face
    general->setFocus(Qt::TabFocusReason);
    QCOMPARE(WindowFixture::background(general), kBlue);
    QCOMPARE(WindowFixture::background(f.control("T_Check_Enable")), kLightGrey);
    WindowFixture::pressTab();
    QCOMPARE(WindowFixture::background(general), kLightGrey);
    QCOMPARE(WindowFixture::background(f.control("G_Check_ImplicitBCO")), kBlue);

    // A list gets no mark of its own.
    QWidget *list = f.control("O_Combo_Trace");
    const QPalette before = list->palette();
    list->setFocus(Qt::TabFocusReason);
    QCOMPARE(list->palette(), before);
}

void TestWindow::focusColourShowsAroundBox_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("15 wide") << "T_Check_Enable";
    QTest::newRow("17 wide") << "G_Check_Backwardstart";
}

void TestWindow::focusColourShowsAroundBox()
{
    QFETCH(QString, name);
    WindowFixture f;
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    auto *box = f.window->findChild<QCheckBox *>(name);
    box->setFocus(Qt::TabFocusReason);
    const QImage image = box->grab().toImage();
    const int right = box->width() - 1;
    const int bottom = box->height() - 1;
    // A 13x13 box at the left, centred: two rows above and below, the rest at the right.
    for (QPoint margin : {QPoint(6, 0), QPoint(6, 1), QPoint(6, bottom - 1), QPoint(6, bottom), QPoint(right, 8),
                          QPoint(13, 8)})
        QVERIFY2(image.pixelColor(margin) == kBlue,
                 qPrintable(QStringLiteral("%1,%2").arg(margin.x()).arg(margin.y())));
    QVERIFY(image.pixelColor(6, 8) != kBlue);
}

// Shows a real message box over the window, as the program does, notes what
// the window looked like while it was open, then closes it with Enter.
template <typename Note>
bool showRealMessageBox(Tavrin *window, Note note)
{
    MessageBoxes boxes;
    boxes.setOwner(window);
    bool boxWasActive = false;
    // Looked at once the box is shown and active, however long that takes on
    // a busy machine; after ten seconds, as it is then.
    QElapsedTimer waited;
    waited.start();
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        boxWasActive = modal && QApplication::activeWindow() == modal;
        if (!boxWasActive && waited.elapsed() < 10000)
            return;
        look.stop();
        note();
        if (modal)
            QTest::keyClick(modal, Qt::Key_Return); // the box's own key, not the window's
    });
    look.start(20);
    boxes.show(QStringLiteral("over the window"));
    window->activateWindow(); // as the window manager does when the box goes
    return boxWasActive && QTest::qWaitForWindowActive(window);
}

void TestWindow::markSurvivesMessageBox()
{
    WindowFixture f;
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    const QByteArray before = f.fileBytes();

    QCheckBox *box = f.check("O_Check_SetToFalse");
    box->setFocus(Qt::TabFocusReason);
    QColor during;
    QVERIFY(showRealMessageBox(f.window.get(), [&] { during = WindowFixture::background(box); }));
    QCOMPARE(during, kBlue);
    QCOMPARE(QApplication::focusWidget(), box);
    QCOMPARE(WindowFixture::background(box), kBlue);

    QLineEdit *movements = f.text("T_Text_Movements");
    movements->setFocus(Qt::TabFocusReason);
    movements->setText(QStringLiteral("4a"));
    QString text;
    QVERIFY(showRealMessageBox(f.window.get(), [&] { text = movements->text(); }));
    QCOMPARE(text, QStringLiteral("4a"));
    QCOMPARE(movements->text(), QStringLiteral("4a"));
    QCOMPARE(QApplication::focusWidget(), movements);

    QCOMPARE(f.fileBytes(), before); // Enter in the box ran no Apply
    QCOMPARE(f.programEnds, 0);
}

void TestWindow::numericEntry_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("left");
    const QString m = QStringLiteral("T_Text_Movements");
    const QString c = QStringLiteral("T_Text_Cycflags");
    QTest::newRow("empty") << m << "" << "1";
    QTest::newRow("letters") << c << "abc" << "1";
    QTest::newRow("sign") << m << "-5" << "5";
    QTest::newRow("decimal") << m << "2.5" << "25";
    QTest::newRow("blanks") << c << " 12 " << "12";
    QTest::newRow("exponent") << m << "1e3" << "13";
    QTest::newRow("other digits dropped") << m << QString::fromUtf8("4\u0663\uff12") << "4";
    QTest::newRow("movements 61") << m << "61" << "60";
    QTest::newRow("movements 60") << m << "60" << "60";
    QTest::newRow("movements 0") << m << "0" << "0";
    QTest::newRow("movements 099") << m << "099" << "60";
    QTest::newRow("movements 030") << m << "030" << "030";
    QTest::newRow("movements 25") << m << "25" << "25";
    QTest::newRow("cycflags 27") << c << "27" << "26";
    QTest::newRow("cycflags 61") << c << "61" << "26";
    QTest::newRow("cycflags 26") << c << "26" << "26";
    QTest::newRow("cycflags 007") << c << "007" << "007";
    QTest::newRow("cycflags 25") << c << "25" << "25";
    QTest::newRow("above 16 bits") << c << "40000" << "26";
    QTest::newRow("32767") << m << "32767" << "60";
    QTest::newRow("many digits") << m << "000000000000000000000000000000001" << "000000000000000000000000000000001";
    QTest::newRow("huge") << m << "99999999999999999999999999" << "60";
}

void TestWindow::numericEntry()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    WindowFixture f;
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    QLineEdit *edit = f.window->findChild<QLineEdit *>(box);
    edit->setFocus(Qt::TabFocusReason);
    edit->setText(typed);
    WindowFixture::pressTab();
    QVERIFY(QApplication::focusWidget() != edit);
    QTEST(edit->text(), "left");
    QVERIFY(!edit->hasSelectedText());
}

void TestWindow::enteringSelectsWholeText()
{
    WindowFixture f;
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    WindowFixture::pressTab();
    QLineEdit *movements = f.text("T_Text_Movements");
    QCOMPARE(QApplication::focusWidget(), movements);
    QCOMPARE(movements->selectedText(), QStringLiteral("30"));
    QTest::keyClick(movements, Qt::Key_7);
    QCOMPARE(movements->text(), QStringLiteral("7"));
}

void TestWindow::loadedCountStaysUntilLeft()
{
    WindowFixture f;
    QVERIFY(f.writeFile("[TRACE]\r\nENABLE=TRUE\r\nCYCFLAGS = 99\r\nMOVEMENTS = 1X\r\n"));
    QVERIFY(f.open());
    QLineEdit *cycflags = f.text("T_Text_Cycflags");
    QCOMPARE(cycflags->text(), QStringLiteral("99"));
    QCOMPARE(f.text("T_Text_Movements")->text(), QStringLiteral("1X"));
    cycflags->setFocus(Qt::TabFocusReason);
    QCOMPARE(cycflags->text(), QStringLiteral("99"));
    WindowFixture::pressTab();
    QCOMPARE(cycflags->text(), QStringLiteral("26"));
}

void TestWindow::longCountRoundTrips()
{
    WindowFixture f;
    const QByteArray count(40000, '7');
    QVERIFY(f.writeFile("[TRACE]\r\nENABLE = TRUE\r\nCYCFLAGS = " + count + "\r\n"));
    QVERIFY(f.open());
    QCOMPARE(f.text("T_Text_Cycflags")->text().size(), count.size());
    f.window->Apply();
    QVERIFY(f.fileBytes().contains("CYCFLAGS = " + count + "\r\n"));
}

void TestWindow::enterRunsApplyWithoutMovingFocus()
{
    WindowFixture f;
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    QCheckBox *box = f.check("G_Check_ImplicitBCO");
    box->setFocus(Qt::TabFocusReason);
    box->setChecked(true);
    QTest::keyClick(box, Qt::Key_Return);
    QVERIFY(f.fileBytes().contains("IMPLICIT_BCO = TRUE\r\n"));
    QCOMPARE(QApplication::focusWidget(), box);
    QCOMPARE(WindowFixture::background(box), kBlue);

    // The key is not consumed: the focused box still gets it.
    QLineEdit *movements = f.text("T_Text_Movements");
    movements->setFocus(Qt::TabFocusReason);
    QSignalSpy returned(movements, &QLineEdit::returnPressed);
    QTest::keyClick(movements, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(returned.count(), 1);
    QCOMPARE(QApplication::focusWidget(), movements);
}

void TestWindow::keysInOpenList_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("applies");
    QTest::addColumn<int>("programEnds");
    QTest::newRow("enter") << int(Qt::Key_Return) << "AT_FWD" << 1 << 0;
    QTest::newRow("keypad enter") << int(Qt::Key_Enter) << "AT_FWD" << 1 << 0;
    QTest::newRow("escape") << int(Qt::Key_Escape) << "AT_BWD" << 0 << 1;
}

void TestWindow::keysInOpenList()
{
    QFETCH(int, key);
    QFETCH(QString, value);
    WindowFixture f;
    ScriptedHost &script = f.script;
    script.configure = [](ScriptedComponent &c) { c.events = {{1, 5, 0}}; };
    QVERIFY(f.writeFile(kAllEnabledFile));
    QVERIFY(f.open());
    QComboBox *list = f.list("O_Combo_Restore");
    list->setFocus(Qt::TabFocusReason);
    list->showPopup();
    QTRY_VERIFY(list->view()->isVisible());
    QTest::keyClick(list->view(), Qt::Key_Down);
    QTest::keyClick(list->view(), Qt::Key(key));
    QVERIFY(!list->view()->isVisible());
    QCOMPARE(list->currentText(), value);
    QTEST(script.current ? int(script.current->calls.count(QStringLiteral("BeginSetVar($LOAD_TAVRIN,TRUE)"))) : 0,
          "applies");
    // Saved only by an Apply, with the item picked.
    QCOMPARE(f.fileBytes().contains("RESTORE = " + value.toLatin1() + "\r\n"), f.programEnds == 0);
    QTEST(f.programEnds, "programEnds");
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
