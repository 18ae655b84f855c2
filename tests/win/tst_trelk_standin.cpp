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
            expect(errorText == (row.mode == "refuse" ? L"Variable is write protected" : L""),
                   is + "the error text of a refused job");
            if (row.connected)
                control.DisconnectClient();
        }
        expectEqual(seenInsideCall, row.mode == "inside" ? size_t(1) : size_t(0),
                    is + "events passed on inside the start call");
        const auto lines = logLines(log);
        expectEqual(loggedStarting(lines, "reject"), 0, is + "every call matches the control's signatures");
        expect(logged(lines, "call BeginSetVar(\"$LOAD_TAVRIN\", \"TRUE\")" +
                                 std::string(row.failure.empty() ? " -> 1" : "")),
               is + "BeginSetVar's arguments");
        expectEqual(loggedStarting(lines, "call DisconnectClient()"), row.connected ? 1 : 0, is + "DisconnectClient");
        expect(!lines.empty() && lines.back() == "destroy", is + "the control is released");
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

// Writes a class for `progId` into one registry view only, as the other
// bitness's regsvr32 would; removed again when it goes.
class OtherViewRegistration
{
public:
    OtherViewRegistration(const wchar_t *progId, REGSAM view) : m_progId(progId), m_view(view)
    {
        write(m_progId + L"\\CLSID", kClassId);
        write(std::wstring(L"CLSID\\") + kClassId + L"\\InprocServer32", L"C:\\Controller\\Trelk.ocx");
    }
    ~OtherViewRegistration()
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
    OtherViewRegistration other(L"TrelkLib.OtherBitness", is64Bit ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
    expectEqual(failureOf([&] { TrelkControl control(L"TrelkLib.OtherBitness", events.handler()); }),
                std::string(is64Bit ? "The control TrelkLib.OtherBitness is registered for 32-bit programs only; "
                                      "this program is a 64-bit program"
                                    : "The control TrelkLib.OtherBitness is registered for 64-bit programs only; "
                                      "this program is a 32-bit program"),
                "a control registered for the other bitness only");
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
    OleUninitialize();
    return checkResult();
}
