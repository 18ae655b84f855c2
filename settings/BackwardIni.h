#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <array>
#include <cstddef>

// The layout of Backward.ini: its sections, its eleven keys, how each value is
// read and written, and the option lists of the three list-valued keys. The
// loader, the writer and the window all take these facts from here.

enum class Section { None, Trace, Scan, Ofc, General };

enum class ValueKind {
    Switch, // "TRUE" checks the box, anything else clears it
    Option, // one item of a fixed option list
    Count,  // digits, kept as text; bounds belong to the window
};

// One field per key, named after the window's control. The order is the
// key table's: it is the order the loader tests keys in and the writer writes.
enum class FieldId {
    T_Check_Enable,
    T_Combo_FinishedSub,
    T_Text_Movements,
    T_Text_Cycflags,
    O_Check_SetToFalse,
    O_Combo_Trace,
    O_Combo_Restore,
    S_Check_Enable,
    G_Check_Backwardstart,
    G_Check_ImplicitBCO,
    G_CheckQuitMess,
};
inline constexpr std::size_t kFieldCount = 11;

struct KeyDef {
    Section section;
    const char *key;
    FieldId field;
    ValueKind kind;
    QByteArrayList options; // Option kind only, in list order
};

const std::array<KeyDef, kFieldCount> &keyTable();
const KeyDef &keyDef(FieldId field);
QByteArray sectionHeader(Section section);

inline constexpr char kSwitchOn[] = "TRUE";
inline constexpr char kSwitchOff[] = "FALSE";

// The eleven field values as the file holds them (switches as "TRUE" or
// "FALSE"), and the comment block that stands before the first section.
struct Settings {
    std::array<QByteArray, kFieldCount> fields;
    QByteArray leadingComments; // each line followed by CR LF

    QByteArray &operator[](FieldId f) { return fields[static_cast<std::size_t>(f)]; }
    const QByteArray &operator[](FieldId f) const { return fields[static_cast<std::size_t>(f)]; }
    bool operator==(const Settings &) const = default;

    // What the window shows before any file is read.
    static Settings initial();
};

// Upper case, then leading and trailing spaces removed (a tab is no blank).
QByteArray normalizeLine(const QByteArray &line);
// The value of a normalised setting line: after the first "=", trimmed, cut
// before its first blank; empty when there is no "=".
QByteArray GetLineValue(const QByteArray &line);

// The whole file as the writer produces it.
QByteArray renderSettings(const Settings &settings);
