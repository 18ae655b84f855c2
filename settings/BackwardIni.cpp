#include "settings/BackwardIni.h"

#include "settings/Cp1252.h"
#include "controller/TextTrim.h"

const std::array<KeyDef, kFieldCount> &keyTable()
{
    static const std::array<KeyDef, kFieldCount> table{{
        {Section::Trace, "ENABLE", FieldId::T_Check_Enable, ValueKind::Switch, {}},
        {Section::Trace, "FINISHED_SUB", FieldId::T_Combo_FinishedSub, ValueKind::Option, {"SKIP", "STOP"}},
        {Section::Trace, "MOVEMENTS", FieldId::T_Text_Movements, ValueKind::Count, {}},
        {Section::Trace, "CYCFLAGS", FieldId::T_Text_Cycflags, ValueKind::Count, {}},
        {Section::Ofc, "SET_TO_FALSE", FieldId::O_Check_SetToFalse, ValueKind::Switch, {}},
        {Section::Ofc, "TRACE", FieldId::O_Combo_Trace, ValueKind::Option, {"AT_LEAVING", "NO_TRACE"}},
        {Section::Ofc, "RESTORE", FieldId::O_Combo_Restore, ValueKind::Option, {"AT_BWD", "AT_FWD"}},
        {Section::Scan, "ENABLE", FieldId::S_Check_Enable, ValueKind::Switch, {}},
        {Section::General, "BACKWARDSTART", FieldId::G_Check_Backwardstart, ValueKind::Switch, {}},
        {Section::General, "IMPLICIT_BCO", FieldId::G_Check_ImplicitBCO, ValueKind::Switch, {}},
        {Section::General, "QUIT_M_TRACE_SCAN", FieldId::G_CheckQuitMess, ValueKind::Switch, {}},
    }};
    return table;
}

const KeyDef &keyDef(FieldId field)
{
    return keyTable()[static_cast<std::size_t>(field)];
}

QByteArray sectionHeader(Section section)
{
    switch (section) {
    case Section::Trace: return "[TRACE]";
    case Section::Scan: return "[SCAN]";
    case Section::Ofc: return "[OFC]";
    case Section::General: return "[GENERAL]";
    case Section::None: break;
    }
    return {};
}

Settings Settings::initial()
{
    Settings s;
    for (const KeyDef &def : keyTable()) {
        switch (def.kind) {
        case ValueKind::Switch: s[def.field] = kSwitchOff; break;
        case ValueKind::Option: s[def.field] = def.options.first(); break;
        case ValueKind::Count: break;
        }
    }
    s[FieldId::T_Text_Movements] = "30";
    s[FieldId::T_Text_Cycflags] = "5";
    return s;
}

QByteArray normalizeLine(const QByteArray &line)
{
    return trimSpaces(toUpperCp1252(line));
}

QByteArray GetLineValue(const QByteArray &line)
{
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return {};
    const QByteArray value = trimSpaces(line.mid(equals + 1));
    const qsizetype blank = value.indexOf(' ');
    return blank < 0 ? value : value.left(blank);
}

QByteArray renderSettings(const Settings &settings)
{
    static constexpr char crlf[] = "\r\n";
    QByteArray out = settings.leadingComments;
    out += crlf;
    Section written = Section::None;
    for (const KeyDef &def : keyTable()) {
        if (def.section != written) {
            written = def.section;
            out += crlf + sectionHeader(written) + crlf;
        }
        out += def.key + QByteArray(" = ") + settings[def.field] + crlf;
    }
    out += crlf + QByteArray("[ENDSECTION]") + crlf;
    return out;
}
