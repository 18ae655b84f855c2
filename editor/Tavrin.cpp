#include "editor/Tavrin.h"

#include "settings/SettingsFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QPushButton>
#include <QScreen>
#include <QStylePainter>
#include <QTimer>

#include <limits>
#include <optional>
#include <type_traits>
#include <variant>

namespace {

// Colours as the controller's tools give them: red in the lowest byte.
QColor fromBgr(int bgr)
{
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

const QColor kFocusColour = fromBgr(16711680);  // blue
const QColor kLeftColour = fromBgr(12632256);   // light grey
const QColor kHeadingColour = fromBgr(255);     // red
const QColor kStatusColour = fromBgr(255);
const char kStatusText[] = "SAVEING BACKWARD.INI ...";
constexpr int kMovementsBound = 60;
constexpr int kCycflagsBound = 26;

// Layout values are twips; 15 twips make one pixel at 96 dpi, to the
// nearest pixel (220 twips are 15 pixels, not 14).
QRect twips(int left, int top, int width, int height)
{
    auto pixels = [](int value) { return (value + 7) / 15; };
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

QFont msSansSerif(bool bold = false)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setBold(bold);
    return font;
}

QFont arial(qreal points, bool underline)
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(true);
    font.setUnderline(underline);
    return font;
}

void setBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// The value of a digit string for the comparison with a bound, held as a
// 16-bit number would be; anything above 32767 counts as above every bound.
int boundedValue(const QString &digits)
{
    int value = 0;
    for (QChar c : digits)
        value = qMin(value * 10 + c.digitValue(), 32768);
    return value;
}

// A check box drawn as designed: a 13x13 box at the left, vertically
// centred, so its background colour (the focus mark) shows around it in
// every style. No caption and no focus frame: the colour is the mark.
class FieldCheckBox : public QCheckBox
{
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent *) override
    {
        constexpr int side = 13;
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.state &= ~QStyle::State_HasFocus;
        option.rect = QRect(0, (height() - side) / 2, side, side);
        painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, option);
    }
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }
};

bool isEnter(const QKeyEvent *event)
{
    return event->text() == QLatin1String("\r") || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

} // namespace

Tavrin::Tavrin(Context context, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_context(std::move(context)), m_writer(m_context.host, m_context.showMessage)
{
    setObjectName(QStringLiteral("Tavrin"));
    setWindowTitle(QStringLiteral("Edit: Backward.ini"));
    setFixedSize(393, 340);
    setFont(msSansSerif());
    buildControls();

    CheckTimer = new QTimer(this);
    CheckTimer->setObjectName(QStringLiteral("CheckTimer"));
    CheckTimer->setInterval(500);
    connect(CheckTimer, &QTimer::timeout, this, &Tavrin::ApplyEnablingRules);
    CheckTimer->start();

    FillOptionLists();
    LoadSettingsFile();
    ApplyEnablingRules();
}

Tavrin::~Tavrin() = default;

void Tavrin::buildControls()
{
    // The window's controls in tab order, each with the member that holds it
    // (its type is the kind of control), its initial text, its place in twips
    // and the field it shows.
    using Member = std::variant<QCheckBox *Tavrin::*, QLineEdit *Tavrin::*, QComboBox *Tavrin::*,
                                QPushButton *Tavrin::*>;
    struct ControlDef {
        const char *name;
        Member member;
        const char *text;
        QRect geometry;
        std::optional<FieldId> field;
    };
    const ControlDef controls[] = {
        {"T_Check_Enable", &Tavrin::T_Check_Enable, "", twips(3720, 240, 220, 255), FieldId::T_Check_Enable},
        {"T_Text_Movements", &Tavrin::T_Text_Movements, "30", twips(3720, 600, 375, 285), FieldId::T_Text_Movements},
        {"T_Combo_FinishedSub", &Tavrin::T_Combo_FinishedSub, "", twips(3720, 960, 2055, 315),
         FieldId::T_Combo_FinishedSub},
        {"T_Text_Cycflags", &Tavrin::T_Text_Cycflags, "5", twips(3720, 1320, 375, 285), FieldId::T_Text_Cycflags},
        {"O_Check_SetToFalse", &Tavrin::O_Check_SetToFalse, "", twips(3720, 1680, 255, 255),
         FieldId::O_Check_SetToFalse},
        {"O_Combo_Trace", &Tavrin::O_Combo_Trace, "", twips(3720, 2040, 2055, 315), FieldId::O_Combo_Trace},
        {"O_Combo_Restore", &Tavrin::O_Combo_Restore, "", twips(3720, 2400, 2055, 315), FieldId::O_Combo_Restore},
        {"S_Check_Enable", &Tavrin::S_Check_Enable, "", twips(3720, 2880, 220, 255), FieldId::S_Check_Enable},
        {"G_Check_Backwardstart", &Tavrin::G_Check_Backwardstart, "", twips(3720, 3360, 255, 255),
         FieldId::G_Check_Backwardstart},
        {"G_Check_ImplicitBCO", &Tavrin::G_Check_ImplicitBCO, "", twips(3720, 3720, 255, 255),
         FieldId::G_Check_ImplicitBCO},
        {"btnApply", &Tavrin::btnApply, "&Apply", twips(4440, 3360, 975, 375), std::nullopt},
        {"G_CheckQuitMess", &Tavrin::G_CheckQuitMess, "Check1", twips(3720, 4080, 255, 255), FieldId::G_CheckQuitMess},
    };

    // Creates the control of a member's kind; every one previews the keys and
    // tracks the focus through the window's event filter.
    auto create = [this](auto member, const QString &text) -> QWidget * {
        using Control = std::remove_pointer_t<std::remove_reference_t<decltype(this->*member)>>;
        Control *control = nullptr;
        if constexpr (std::is_same_v<Control, QCheckBox>) {
            control = new FieldCheckBox(text, this);
        } else if constexpr (std::is_same_v<Control, QLineEdit>) {
            control = new QLineEdit(this);
            control->setAlignment(Qt::AlignCenter);
            control->setFont(msSansSerif());
            control->setMaxLength(std::numeric_limits<int>::max()); // counts have no length limit
            control->setText(text);
        } else if constexpr (std::is_same_v<Control, QComboBox>) {
            control = new QComboBox(this);
            control->setFont(msSansSerif());
            control->view()->installEventFilter(this); // an open list has the keys
        } else {
            control = new QPushButton(text, this);
            control->setFont(msSansSerif(true));
            control->setAutoDefault(false);
        }
        control->installEventFilter(this);
        this->*member = control;
        return control;
    };
    QWidget *previous = nullptr;
    for (const ControlDef &def : controls) {
        const QString text = QLatin1String(def.text);
        QWidget *control = std::visit([&](auto member) { return create(member, text); }, def.member);
        control->setObjectName(QLatin1String(def.name));
        control->setGeometry(def.geometry);
        if (def.field)
            m_fields[std::size_t(*def.field)] = control;
        if (previous)
            setTabOrder(previous, control);
        previous = control;
    }

    setBackground(T_Check_Enable, kLeftColour);
    setBackground(S_Check_Enable, kLeftColour);

    const QString traceTip = QStringLiteral("ENABLES TRACE FOR BACKWARD MOTION");
    const QString scanTip = QStringLiteral("ENABLES SCAN FOR BACKWARD MOTION");
    const QString movementsTip = QStringLiteral("THE NUMBER OF MOVEMENTS TO BE TRACED (0...60)");
    const QString cycflagsTip = QStringLiteral("THE NUMBER OF $CYCFLAGS TO BE TRACED (0...26)");
    T_Check_Enable->setToolTip(traceTip);
    S_Check_Enable->setToolTip(scanTip);
    T_Text_Movements->setToolTip(movementsTip);
    T_Text_Cycflags->setToolTip(cycflagsTip);

    struct LabelDef {
        const char *name;
        const char *caption;
        QRect geometry;
        bool heading;
        QString toolTip;
    };
    const LabelDef labels[] = {
        {"Label1", "TRACE:", twips(120, 120, 930, 285), true, {}},
        {"T_Enable", "Enable :", twips(1560, 240, 660, 225), false, traceTip},
        {"T_Movements", "Movements :", twips(1560, 600, 1080, 225), false, movementsTip},
        {"T_Finished_Sub", "Finished_Sub:", twips(1560, 960, 1185, 225), false,
         QStringLiteral("REACTION ON FINISHED SUBROUTINES")},
        {"T_Cycflags", "Cycflags :", twips(1560, 1320, 825, 225), false, cycflagsTip},
        {"Label3", "OFC:", twips(120, 1680, 600, 285), true, {}},
        {"O_Set_to_False", "Set_To_False:", twips(1560, 1680, 1200, 225), false, {}},
        {"O_TraceIt", "Trace:", twips(1560, 2040, 540, 225), false, {}},
        {"O_RestoreIt", "Restore:", twips(1560, 2400, 720, 225), false, {}},
        {"Label2", "SCAN:", twips(120, 2880, 780, 285), true, {}},
        {"S_Enable", "Enable :", twips(1560, 2880, 660, 225), false, scanTip},
        {"Label6", "GENERAL:", twips(120, 3360, 1275, 285), true, {}},
        {"G_Backwardst", "Backwardstart:", twips(1560, 3360, 1320, 225), false, {}},
        {"G_ImplBCO", "Implicit_BCO:", twips(1560, 3720, 1140, 225), false, {}},
        {"G_QuitMess", "Quit_M_Trace_Scan", twips(1560, 4080, 1815, 255), false, {}},
    };
    for (const LabelDef &def : labels) {
        auto *label = new QLabel(QLatin1String(def.caption), this);
        label->setObjectName(QLatin1String(def.name));
        label->setFont(def.heading ? arial(12, true) : arial(9, false));
        // A substitute face may need more width than the design gave.
        QRect geometry = def.geometry;
        geometry.setWidth(qMax(geometry.width(), label->sizeHint().width()));
        label->setGeometry(geometry);
        label->setToolTip(def.toolTip);
        if (def.heading)
            setTextColour(label, kHeadingColour);
    }
    Info = new QLabel(this);
    Info->setObjectName(QStringLiteral("Info"));
    Info->setGeometry(twips(600, 4680, 4695, 375));
    Info->setFont(msSansSerif());

    // A change of value from code counts like a click, as the loader relies on.
    connect(T_Check_Enable, &QCheckBox::toggled, this, &Tavrin::ApplyEnablingRules);
    connect(S_Check_Enable, &QCheckBox::toggled, this, &Tavrin::ApplyEnablingRules);
    connect(O_Combo_Trace, &QComboBox::currentTextChanged, this, &Tavrin::ApplyEnablingRules);
    connect(btnApply, &QPushButton::clicked, this, [this] {
        // Its access key clicks it without moving the focus; a click leaves
        // the focused field first, so take the focus as a mouse click does.
        btnApply->setFocus(Qt::ShortcutFocusReason);
        Apply();
    });
}

void Tavrin::ShowCentred()
{
    // The whole window is centred, frame included, once the system has made
    // it and knows its frame (Qt 5 places a window by its frame).
    create();
    const QRect screenArea = screen()->availableGeometry();
    const QSize whole = frameGeometry().size();
    move(screenArea.center() - QPoint(whole.width() / 2, whole.height() / 2));
    T_Check_Enable->setFocus(Qt::OtherFocusReason);
    show();
    activateWindow();
}

void Tavrin::FillOptionLists()
{
    for (const KeyDef &def : keyTable()) {
        if (def.kind != ValueKind::Option)
            continue;
        auto *list = static_cast<QComboBox *>(m_fields[std::size_t(def.field)]);
        for (const QByteArray &item : def.options)
            list->addItem(QString::fromLatin1(item));
        list->setCurrentIndex(0);
    }
}

Settings Tavrin::fieldValues() const
{
    Settings settings;
    for (const KeyDef &def : keyTable()) {
        QWidget *control = m_fields[std::size_t(def.field)];
        switch (def.kind) {
        case ValueKind::Switch:
            settings[def.field] = static_cast<QCheckBox *>(control)->isChecked() ? kSwitchOn : kSwitchOff;
            break;
        case ValueKind::Option:
            settings[def.field] = static_cast<QComboBox *>(control)->currentText().toLatin1();
            break;
        case ValueKind::Count:
            settings[def.field] = static_cast<QLineEdit *>(control)->text().toLatin1();
            break;
        }
    }
    settings.leadingComments = LeadingComments;
    return settings;
}

void Tavrin::setFieldValues(const Settings &settings)
{
    for (const KeyDef &def : keyTable()) {
        QWidget *control = m_fields[std::size_t(def.field)];
        const QString value = QString::fromLatin1(settings[def.field]);
        switch (def.kind) {
        case ValueKind::Switch:
            static_cast<QCheckBox *>(control)->setChecked(settings[def.field] == kSwitchOn);
            break;
        case ValueKind::Option: {
            auto *list = static_cast<QComboBox *>(control);
            list->setCurrentIndex(list->findText(value, Qt::MatchExactly | Qt::MatchCaseSensitive));
            break;
        }
        case ValueKind::Count:
            static_cast<QLineEdit *>(control)->setText(value);
            break;
        }
    }
    LeadingComments = settings.leadingComments;
}

void Tavrin::LoadSettingsFile()
{
    Settings settings = fieldValues();
    const bool loaded = loadSettingsFile(m_context.settingsFilePath, settings);
    setFieldValues(settings);
    if (!loaded)
        m_context.showMessage(QStringLiteral("Cant open ") + QLatin1String(kSettingsDisplayPath));
}

void Tavrin::ApplyEnablingRules()
{
    const std::initializer_list<QWidget *> traceDependent = {T_Text_Movements,   T_Text_Cycflags,
                                                             T_Combo_FinishedSub, O_Check_SetToFalse,
                                                             O_Combo_Trace,       O_Combo_Restore};
    const bool trace = T_Check_Enable->isChecked();
    for (QWidget *control : traceDependent)
        control->setEnabled(trace);
    const bool general = T_Check_Enable->isChecked() || S_Check_Enable->isChecked();
    for (QCheckBox *box : {G_Check_Backwardstart, G_Check_ImplicitBCO, G_CheckQuitMess})
        box->setEnabled(general);
    if (O_Combo_Trace->currentText() == QLatin1String("NO_TRACE"))
        O_Combo_Restore->setEnabled(false);
}

void Tavrin::Apply()
{
    const QString caption = Info->text();
    const QColor colour = Info->palette().color(QPalette::WindowText);
    Info->setText(QLatin1String(kStatusText));
    setTextColour(Info, kStatusColour);
    ApplyEnablingRules();
    // Paint the status text before the write.
    QCoreApplication::processEvents();
    m_writer.SaveSettingsFile(
        [this](QString *reason) { return writeSettingsFile(m_context.settingsFilePath, fieldValues(), reason); });
    setTextColour(Info, colour);
    Info->setText(caption);
}

void Tavrin::EnterField(QWidget *control)
{
    if (auto *box = qobject_cast<QLineEdit *>(control))
        box->setSelection(0, int(box->text().size()));
    else if (auto *check = qobject_cast<QCheckBox *>(control))
        setBackground(check, kFocusColour);
}

void Tavrin::LeaveField(QWidget *control)
{
    if (auto *box = qobject_cast<QLineEdit *>(control)) {
        box->deselect();
        KeepDigits(box);
    } else if (auto *check = qobject_cast<QCheckBox *>(control)) {
        setBackground(check, kLeftColour);
    }
    ApplyEnablingRules();
}

void Tavrin::KeepDigits(QLineEdit *box)
{
    static const QString accepted = QStringLiteral("0123456789");
    QString digits;
    for (QChar c : box->text()) {
        if (accepted.contains(c))
            digits += c;
    }
    box->setText(digits.isEmpty() ? QStringLiteral("1") : digits);
}

void Tavrin::applyUpperBound(QLineEdit *box)
{
    const int bound = box == T_Text_Movements ? kMovementsBound : kCycflagsBound;
    if (boundedValue(box->text()) > bound)
        box->setText(QString::number(bound));
}

void Tavrin::focusGained(QWidget *control)
{
    if (control == m_enteredField)
        return; // back from a popup or another window: still entered
    if (m_enteredField)
        focusLost(m_enteredField);
    m_enteredField = control;
    EnterField(control);
}

void Tavrin::focusLost(QWidget *control)
{
    if (control != m_enteredField)
        return;
    m_enteredField = nullptr;
    LeaveField(control);
    if (control == T_Text_Movements || control == T_Text_Cycflags)
        applyUpperBound(static_cast<QLineEdit *>(control));
}

bool Tavrin::previewKey(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return false;
    }
    if (isEnter(event)) {
        // A half-typed count must not reach the file; the box keeps the focus.
        if (auto *box = qobject_cast<QLineEdit *>(focusWidget()); box && m_enteredField == box) {
            KeepDigits(box);
            applyUpperBound(box);
        }
        Apply();
    }
    return false; // the key goes on to the focused control
}

// An open drop-down list has the keys itself; Enter and Escape must still
// reach the window. Enter takes the highlighted item before Apply saves.
bool Tavrin::previewOpenListKey(QComboBox *list, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    const bool enter = isEnter(key);
    if (!enter && key->key() != Qt::Key_Escape)
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        // Claimed, so the list does not act on it before the key press.
        event->accept();
        return true;
    }
    const QModelIndex highlighted = list->view()->currentIndex();
    list->hidePopup();
    if (!enter) {
        close();
        return true;
    }
    if (highlighted.isValid())
        list->setCurrentIndex(highlighted.row());
    Apply();
    return true;
}

bool Tavrin::eventFilter(QObject *watched, QEvent *event)
{
    for (QWidget *field : m_fields) {
        if (auto *list = qobject_cast<QComboBox *>(field); list && watched == list->view())
            return previewOpenListKey(list, event);
    }
    auto *control = static_cast<QWidget *>(watched);
    switch (event->type()) {
    case QEvent::KeyPress:
        return previewKey(static_cast<QKeyEvent *>(event));
    case QEvent::FocusIn:
        if (control != btnApply && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
            focusGained(control);
        break;
    case QEvent::FocusOut: {
        // Another window or a popup taking the focus leaves the field entered.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            focusLost(control);
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Tavrin::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_context.endProgram();
}
