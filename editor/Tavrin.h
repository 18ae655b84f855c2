#pragma once

#include "controller/TrelkForm.h"
#include "settings/BackwardIni.h"
#include "settings/SettingsWriter.h"

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The editor window: the eleven settings of Backward.ini, kept consistent
// while open and written back on Apply.
class Tavrin : public QWidget
{
    Q_OBJECT

public:
    // What the window works with, given by the program's start-up or a test.
    struct Context {
        // The file it loads and saves; empty, it reaches no file and both fail.
        QString settingsFilePath;
        ShowMessage showMessage;
        // Called when the window is closed; the program ends there and then,
        // also from inside a nested event loop, so interrupted work never goes on.
        std::function<void()> endProgram;
        // The controller link's host, for the client the first save creates.
        TrelkForm &host;
    };

    // Creates the controls and runs the window's load: option lists, the
    // settings file, the enabling rules. A failed load is reported here.
    explicit Tavrin(Context context, QWidget *parent = nullptr);
    ~Tavrin() override;

    // Shows the window centred on the screen, focus on T_Check_Enable.
    void ShowCentred();

    void ApplyEnablingRules();
    // The status text, one pass of the rules, then the save and reload.
    void Apply();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void FillOptionLists();
    void LoadSettingsFile();
    void EnterField(QWidget *control);
    void LeaveField(QWidget *control);
    void KeepDigits(QLineEdit *box);
    // What the window's controls hold, in the settings file's terms.
    Settings fieldValues() const;
    void setFieldValues(const Settings &settings);
    void applyUpperBound(QLineEdit *box);
    bool previewKey(QKeyEvent *event);
    bool previewOpenListKey(QComboBox *list, QEvent *event);
    void focusGained(QWidget *control);
    void focusLost(QWidget *control);

    QCheckBox *T_Check_Enable;
    QLineEdit *T_Text_Movements;
    QComboBox *T_Combo_FinishedSub;
    QLineEdit *T_Text_Cycflags;
    QCheckBox *O_Check_SetToFalse;
    QComboBox *O_Combo_Trace;
    QComboBox *O_Combo_Restore;
    QCheckBox *S_Check_Enable;
    QCheckBox *G_Check_Backwardstart;
    QCheckBox *G_Check_ImplicitBCO;
    QPushButton *btnApply;
    QCheckBox *G_CheckQuitMess;
    QLabel *Info;
    QTimer *CheckTimer;

    const Context m_context;
    // The settings controls by field, in key-table order.
    std::array<QWidget *, kFieldCount> m_fields{};
    // The settings control that has been entered and not yet left.
    QWidget *m_enteredField = nullptr;
    // Filled by the load, written first by every save.
    QByteArray LeadingComments;
    SettingsWriter m_writer;
};
