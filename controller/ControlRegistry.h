#pragma once

// What Windows says about a control that cannot be had: the system's words
// for a failure, and the registry's and the file's word on why a control
// does not load, each with what to do about it. Plain Win32, no Qt.

#include <windows.h>

#include <string>

// UTF-8 of a UTF-16 text of `length` characters, or up to its NUL with -1.
std::string utf8(const wchar_t *text, int length = -1);

// The system's words for a failure code, with the code itself. Inserts such
// as "%1" stand for `insert`: a message never shows them unfilled.
std::string describe(HRESULT hr, const std::wstring &insert = L"the control's file");

// The default value of a key under HKEY_CLASSES_ROOT in one registry view:
// KEY_WOW64_32KEY, KEY_WOW64_64KEY, or 0 for this program's own.
bool classesValue(const std::wstring &key, REGSAM view, std::wstring &value);

// The class's key under HKEY_CLASSES_ROOT: "CLSID\{...}".
std::wstring classKey(const CLSID &classId);

// The control is registered nowhere this program can see it: says whether
// it is registered for the other bitness.
[[noreturn]] void throwNotRegistered(const wchar_t *progId);

// The control is registered but could not be created: names its registered
// file, whether it exists, its bitness against this program's, and the fix.
[[noreturn]] void throwNotCreated(const wchar_t *progId, const CLSID &classId, HRESULT hr);

// A licensed control without a licence on this PC.
[[noreturn]] void throwNotLicensed(const wchar_t *progId, HRESULT hr);
