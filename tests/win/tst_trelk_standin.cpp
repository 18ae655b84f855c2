// The Windows control host against the stand-in control, which the test's
// fixture has registered with regsvr32 as the real control is registered.
// Each mode of the stand-in is one row; its log shows what reached it.

#include "Standin.h"

#include <ole2.h>

#include <string>
#include <vector>

namespace {

const wchar_t kProgId[] = L"TrelkLib.Trelk";
using Seen = std::vector<std::pair<short, long>>;

struct Row {
    std::string mode;
    bool connected;
    std::string failure; // BeginSetVar raises this, else empty
    Seen events;         // what the host passes on, in order
    bool result;         // the result query for the job named last with status 0
};

void modes()
{
    const std::vector<Row> rows = {
        {"accept", true, "", {{1, 0}}, true},
        {"refuse", true, "", {{1, 1}}, false},
        {"silent", true, "", {}, false},
        {"inside", true, "", {{1, 0}}, true},
        {"status2", true, "", {{1, 2}, {1, 0}}, true},
        {"foreign", true, "", {{101, 0}}, true},
        {"noconnect", false, "", {{1, 0}}, true},
        {"raise", true, "BeginSetVar: No connection to the controller", {}, false},
        {"noclassinfo", true, "", {{1, 0}}, true},
        {"progress", true, "", {{1, 0}}, true},
        {"noclassinfo,progress", true, "", {{1, 0}}, true},
        {"noclassinfo,notypeinfo,progress", true, "", {{1, 0}}, true},
        {"strict", true, "", {{1, 0}}, true},
        {"refuse,strict", true, "", {{1, 1}}, false},
    };
    for (const Row &row : rows) {
        const std::string is = row.mode + ": ";
        const std::wstring log = useMode(row.mode);
        Events events;
        size_t seenInsideCall = 0;
        {
            TrelkControl control(kProgId, events.handler());
            expectEqual(control.ConnectClient(L"Load_Tavrin", L"", 0), row.connected, is + "ConnectClient");
            std::wstring name = L"$LOAD_TAVRIN", value = L"TRUE";
            short job = 0;
            expectEqual(failureOf([&] { job = control.BeginSetVar(name, value); }),
                        row.failure.empty() ? "no failure" : row.failure, is + "BeginSetVar");
            seenInsideCall = events.seen.size();
            pumpFor(150);
            expect(events.seen == row.events, is + "the job-finished events passed on");
            std::wstring errorText;
            for (const auto &[nJob, nStatus] : events.seen) {
                if (nStatus == 0)
                    job = nJob;
                if (nStatus == 1) {
                    short errorJob = nJob, code1 = 0, code2 = 0;
                    std::wstring text1, text2;
                    control.GetJobError(errorJob, code1, code2, text1, text2, errorText);
                }
            }
            if (!events.seen.empty())
                expectEqual(control.GetSetVarResult(job), row.result, is + "GetSetVarResult");
            expect(errorText == (row.mode.rfind("refuse", 0) == 0 ? L"Variable is write protected" : L""),
                   is + "the error text of a refused job");
            if (row.connected)
                control.DisconnectClient();
        }
        expectEqual(seenInsideCall, row.mode == "inside" ? size_t(1) : size_t(0),
                    is + "events passed on inside the start call");
        expect(events.seen == row.events, is + "no event passed on once the host has gone");
        const auto lines = logLines(log);
        expectEqual(loggedStarting(lines, "reject"), 0, is + "every call matches the control's signatures");
        expect(logged(lines, "call BeginSetVar(\"$LOAD_TAVRIN\", \"TRUE\")" +
                                 std::string(row.failure.empty() ? " -> 1" : "")),
               is + "BeginSetVar's arguments");
        expectEqual(loggedStarting(lines, "call DisconnectClient()"), row.connected ? 1 : 0, is + "DisconnectClient");
        expect(!lines.empty() && lines.back() == "destroy", is + "the control is released");
        expectEqual(loggedStarting(lines, "refuse"), 0, is + "nothing the control asks for is missing");
    }
    const auto refused = logLines(standinLogPath("trelk_standin_refuse"));
    expect(logged(refused, "call GetJobError(1, 0, 0, \"\", \"\", \"\") -> \"Variable is write protected\""),
           "GetJobError's arguments");
}

void readBack()
{
    const std::wstring log = useMode("accept");
    Events events;
    TrelkControl control(kProgId, events.handler());
    std::wstring name = L"$OV_PRO", value = L"100";
    control.BeginSetVar(name, value);
    pumpFor(60);
    std::wstring variable = L"$OV_PRO";
    expectEqual(control.BeginShowVar(variable, L""), short(2), "BeginShowVar's job number");
    pumpFor(60);
    std::wstring read = L"";
    expect(control.GetShowVarResult(2, read), "GetShowVarResult");
    expect(read == L"$OV_PRO=100", "the value read back");
    expect(events.seen == Seen{{1, 0}, {2, 0}}, "one event for each job");
    const auto lines = logLines(log);
    expect(logged(lines, "call BeginShowVar(\"$OV_PRO\", \"\") -> 2") &&
               logged(lines, "call GetShowVarResult(2, \"\") -> true; \"$OV_PRO=100\""),
           "BeginShowVar's and GetShowVarResult's arguments");
}

// Writes a class for `progId` with its file into one registry view, as a
// regsvr32 would; removed again when it goes.
class Registration
{
public:
    Registration(const wchar_t *progId, REGSAM view, const std::wstring &file = L"C:\\Controller\\Trelk.ocx")
        : m_progId(progId), m_view(view)
    {
        write(m_progId + L"\\CLSID", kClassId);
        write(std::wstring(L"CLSID\\") + kClassId + L"\\InprocServer32", file);
    }
    ~Registration()
    {
        remove(m_progId);
        remove(std::wstring(L"CLSID\\") + kClassId);
    }

private:
    static constexpr wchar_t kClassId[] = L"{5E0C4B3A-2D1F-4A6B-9C8D-7E6F5A4B3C2D}";

    void write(const std::wstring &key, const std::wstring &value)
    {
        HKEY handle = nullptr;
        RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE | m_view, nullptr, &handle,
                        nullptr);
        RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                       DWORD((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    void remove(const std::wstring &key)
    {
        HKEY classes = nullptr;
        RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_ALL_ACCESS | m_view, &classes);
        RegDeleteTreeW(classes, key.c_str());
        RegCloseKey(classes);
    }

    std::wstring m_progId;
    REGSAM m_view;
};

void registration()
{
    Events events;
    expectEqual(failureOf([&] { TrelkControl control(L"TrelkLib.Missing", events.handler()); }),
                std::string("The controller's communication control TrelkLib.Missing is not registered on this PC "
                            "(Trelk.ocx)"),
                "a control registered nowhere");

    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const bool is64Bit = sizeof(void *) == 8;
    if (!is64Bit && !wow64) {
        std::printf("SKIP: a 32-bit system has no registry view for 64-bit programs\n");
        return;
    }
    Registration other(L"TrelkLib.OtherBitness", is64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    expectEqual(failureOf([&] { TrelkControl control(L"TrelkLib.OtherBitness", events.handler()); }),
                std::string(is64Bit ? "The control TrelkLib.OtherBitness is registered for 32-bit programs only; "
                                      "this program is a 64-bit program"
                                    : "The control TrelkLib.OtherBitness is registered for 64-bit programs only; "
                                      "this program is a 32-bit program"),
                "a control registered for the other bitness only");
}

// Registered in this program's view, but its file does not load: the
// message names the file, what is wrong with it and the fix.
void registeredButNotLoading()
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder = std::wstring(self).substr(0, std::wstring(self).rfind(L'\\') + 1);
    const std::string own = sizeof(void *) == 8 ? "64-bit" : "32-bit";
    const std::string other = sizeof(void *) == 8 ? "32-bit" : "64-bit";
    struct Row {
        std::wstring file;
        std::string says;
    };
    const std::vector<Row> rows = {
        {folder + L"Removed\\Trelk.ocx", ", which does not exist: install the control again, or register the control's " + own +
                                             " Trelk.ocx with "},
        {folder + L"OtherBitness.dll", " is a " + other + " DLL, and this program is a " + own +
                                           " program: register the control's " + own + " Trelk.ocx with "},
    };
    for (const Row &row : rows) {
        if (row.file.find(L"OtherBitness") != std::wstring::npos &&
            GetFileAttributesW(row.file.c_str()) == INVALID_FILE_ATTRIBUTES) {
            std::printf("SKIP: no DLL of the other bitness to register\n");
            continue;
        }
        Registration registration(L"TrelkLib.NotLoading", 0, row.file);
        Events events;
        const std::string failure = failureOf([&] { TrelkControl control(L"TrelkLib.NotLoading", events.handler()); });
        const std::string is = "registered with " + std::string(row.file.begin(), row.file.end()) + ": ";
        expect(failure.rfind("The control TrelkLib.NotLoading cannot be created: ", 0) == 0, is + failure);
        expect(failure.find(row.says) != std::string::npos && failure.find("regsvr32.exe") != std::string::npos,
               is + "says what is wrong and the fix: " + failure);
        expect(failure.find('%') == std::string::npos, is + "no unfilled insert: " + failure);
    }
}

} // namespace

int main()
{
    if (FAILED(OleInitialize(nullptr))) {
        std::printf("FAIL: OLE cannot be initialised\n");
        return 1;
    }
    modes();
    readBack();
    registration();
    registeredButNotLoading();
    OleUninitialize();
    return checkResult();
}
