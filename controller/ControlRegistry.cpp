#include "controller/ControlRegistry.h"

#include "controller/TrelkControl.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <regex>

std::string utf8(const wchar_t *text, int length)
{
    if (!text || length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(std::max(size, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    if (length < 0 && !out.empty())
        out.pop_back(); // the terminating NUL
    return out;
}

std::string describe(HRESULT hr, const std::wstring &insert)
{
    wchar_t *words = nullptr;
    // Without the inserts' arguments the system would read past them.
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, DWORD(hr), 0, reinterpret_cast<wchar_t *>(&words), 0, nullptr);
    std::wstring text = words ? words : L"";
    LocalFree(words);
    text = std::regex_replace(text, std::wregex(LR"(%[1-9][0-9]?(![^!]*!)?)"), insert);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    char code[32];
    std::snprintf(code, sizeof code, "HRESULT 0x%08lX", static_cast<unsigned long>(hr));
    return text.empty() ? std::string(code) : utf8(text.c_str()) + " (" + code + ")";
}

bool classesValue(const std::wstring &key, REGSAM view, std::wstring &value)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    LONG read = RegQueryValueExW(handle, nullptr, nullptr, &type, nullptr, &size);
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0'); // the registry may hold no terminating NUL
    const bool isText = type == REG_SZ || type == REG_EXPAND_SZ;
    if (read == ERROR_SUCCESS && isText)
        read = RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE *>(text.data()), &size);
    RegCloseKey(handle);
    if (read != ERROR_SUCCESS || !isText)
        return false;
    value = text.c_str();
    if (type == REG_EXPAND_SZ) {
        std::wstring expanded(32768, L'\0');
        const DWORD length = ExpandEnvironmentStringsW(value.c_str(), expanded.data(), DWORD(expanded.size()));
        if (length > 0 && length <= expanded.size())
            value = expanded.c_str();
    }
    return true;
}

std::wstring classKey(const CLSID &classId)
{
    wchar_t text[40];
    StringFromGUID2(classId, text, 40);
    return std::wstring(L"CLSID\\") + text;
}

namespace {

bool hasInprocServer(const wchar_t *progId, REGSAM view)
{
    std::wstring classId;
    HKEY server = nullptr;
    if (!classesValue(std::wstring(progId) + L"\\CLSID", view, classId) ||
        RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + classId + L"\\InprocServer32").c_str(), 0,
                      KEY_QUERY_VALUE | view, &server) != ERROR_SUCCESS)
        return false;
    RegCloseKey(server);
    return true;
}

// The file this program's registry view names for the class, as the system
// would load it.
bool registeredFile(const CLSID &classId, std::wstring &path)
{
    if (!classesValue(classKey(classId) + L"\\InprocServer32", 0, path))
        return false;
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
        path = path.substr(1, path.size() - 2);
    wchar_t found[MAX_PATH];
    if (path.find(L'\\') == std::wstring::npos && SearchPathW(nullptr, path.c_str(), nullptr, MAX_PATH, found, nullptr))
        path = found;
    return !path.empty();
}

// 32 or 64 from the PE header's machine field; 0 for a file that is no
// Windows DLL for x86 or x64, or cannot be read.
int bitnessOf(const std::wstring &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    auto readAt = [file](LONG offset, void *into, DWORD size) {
        DWORD read = 0;
        return SetFilePointer(file, offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
               ReadFile(file, into, size, &read, nullptr) && read == size;
    };
    IMAGE_DOS_HEADER dos{};
    std::uint32_t signature = 0;
    IMAGE_FILE_HEADER header{};
    const bool read = readAt(0, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
                      readAt(dos.e_lfanew, &signature, sizeof signature) && signature == IMAGE_NT_SIGNATURE &&
                      readAt(dos.e_lfanew + LONG(sizeof signature), &header, sizeof header);
    CloseHandle(file);
    if (!read)
        return 0;
    return header.Machine == IMAGE_FILE_MACHINE_I386 ? 32 : header.Machine == IMAGE_FILE_MACHINE_AMD64 ? 64 : 0;
}

// The regsvr32 that registers controls for programs of this program's
// bitness: SysWOW64's for a 32-bit program on 64-bit Windows.
std::string regsvr32()
{
    wchar_t folder[MAX_PATH];
    UINT length = 0;
    if (sizeof(void *) == 4)
        length = GetSystemWow64DirectoryW(folder, MAX_PATH); // fails on 32-bit Windows
    if (length == 0 || length >= MAX_PATH)
        length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "regsvr32.exe";
    return utf8(folder) + "\\regsvr32.exe";
}

constexpr int kOwnBitness = sizeof(void *) * 8;

} // namespace

void throwNotRegistered(const wchar_t *progId)
{
    const std::string name = utf8(progId);
    const bool in32 = hasInprocServer(progId, KEY_WOW64_32KEY);
    const bool in64 = hasInprocServer(progId, KEY_WOW64_64KEY);
    if (kOwnBitness == 64 && in32 && !in64)
        throw TrelkControlError("The control " + name +
                                " is registered for 32-bit programs only; this program is a 64-bit program");
    if (kOwnBitness == 32 && in64 && !in32)
        throw TrelkControlError("The control " + name +
                                " is registered for 64-bit programs only; this program is a 32-bit program");
    throw TrelkControlError("The controller's communication control " + name +
                            " is not registered on this PC (Trelk.ocx)");
}

void throwNotCreated(const wchar_t *progId, const CLSID &classId, HRESULT hr)
{
    std::wstring path;
    const bool registered = registeredFile(classId, path);
    const std::string file = utf8(path.c_str());
    const std::string failure = "The control " + utf8(progId) + " cannot be created: " +
                                describe(hr, registered ? path : std::wstring(L"its file")) + "\n";
    const std::string own = std::to_string(kOwnBitness) + "-bit";
    const std::string registerIt = "register the control's " + own + " Trelk.ocx with " + regsvr32() +
                                   ", from a command prompt run as administrator";
    if (!registered)
        throw TrelkControlError(failure + "Its registration names no file: " + registerIt);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw TrelkControlError(failure + "It is registered with the file " + file +
                                ", which does not exist: install the control again, or " + registerIt);
    const int bitness = bitnessOf(path);
    if (bitness == 0)
        throw TrelkControlError(failure + "Its file " + file +
                                " is no Windows DLL for this PC: install the control again, or " + registerIt);
    if (bitness != kOwnBitness)
        throw TrelkControlError(failure + "Its file " + file + " is a " + std::to_string(bitness) +
                                "-bit DLL, and this program is a " + own + " program: " + registerIt);
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        throw TrelkControlError(failure + "Its file " + file + " is there and is a " + own +
                                " DLL like this program, so a DLL that it needs is missing: install the control "
                                "again with its setup");
    throw TrelkControlError(failure + "Its file " + file + " is there and is a " + own + " DLL like this program");
}

void throwNotLicensed(const wchar_t *progId, HRESULT hr)
{
    throw TrelkControlError("The controller's communication control " + utf8(progId) +
                            " is not licensed on this PC: " + describe(hr) +
                            "\nInstall the control with its maker's setup, which installs its licence");
}
