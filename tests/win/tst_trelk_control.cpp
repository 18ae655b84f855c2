// The Windows control host against the stand-in control, loaded from beside
// this program and offered to COM by this process only: created by its ProgID
// as the product does, but with no registered type library, so a control
// that tells nothing about itself is also tried. The stand-in's log shows
// what reached it.

#include "Standin.h"
#include "controller/ControlRegistry.h"

#include <ole2.h>

#include <initguid.h>

#include "TrelkStandin.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t kProgId[] = L"TrelkLib.Trelk";

// The ProgID names the stand-in's class, whose class object this process
// registers; false on failure.
bool offerStandin(DWORD &registration)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
    HMODULE dll = LoadLibraryW(L"TrelkStandin.dll");
    const auto getClassObject = dll ? reinterpret_cast<GetClassObject>(reinterpret_cast<void (*)()>(
                                          GetProcAddress(dll, "DllGetClassObject")))
                                    : nullptr;
    IClassFactory *factory = nullptr;
    if (!getClassObject || FAILED(getClassObject(CLSID_Trelk, IID_IClassFactory, reinterpret_cast<void **>(&factory))))
        return false;
    wchar_t classId[40];
    StringFromGUID2(CLSID_Trelk, classId, 40);
    // Wine reads classes for everyone from here, not from the user's own.
    const std::wstring key = std::wstring(L"Software\\Classes\\") + kProgId + L"\\CLSID";
    auto write = [](const std::wstring &key, const wchar_t *value) {
        return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value,
                               DWORD((wcslen(value) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    // The misc status as the stand-in registers it: invisible at run time,
    // its site first.
    const std::wstring misc = std::wstring(L"Software\\Classes\\CLSID\\") + classId + L"\\MiscStatus";
    const bool written = write(key, classId) && write(misc, L"0") &&
                         write(misc + L"\\1", std::to_wstring(OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST).c_str());
    const HRESULT hr = written ? CoRegisterClassObject(CLSID_Trelk, factory, CLSCTX_INPROC_SERVER,
                                                       REGCLS_MULTIPLEUSE, &registration)
                               : E_FAIL;
    factory->Release();
    return SUCCEEDED(hr);
}

// The log's lines [from, to) that begin with `start`, joined, for comparing
// with what a test expects.
std::string joined(const std::vector<std::string> &lines, size_t from, size_t to, const std::string &start = "")
{
    std::string out;
    for (size_t i = from; i < std::min(to, lines.size()); ++i)
        if (lines[i].rfind(start, 0) == 0)
            out += (out.empty() ? "" : " | ") + lines[i];
    return out;
}

void hostingOrder()
{
    for (const bool siteFirst : {true, false}) {
        const std::string row = siteFirst ? "site first: " : "site after InitNew: ";
        const std::wstring log = useMode(siteFirst ? "accept" : "initfirst");
        {
            Events events;
            TrelkControl control(kProgId, events.handler());
        }
        const auto lines = logLines(log); // the first says how the stand-in was created
        const std::string hosting = joined(lines, 1, 6), tearDown = joined(lines, 6, SIZE_MAX);
        expectEqual(hosting,
                    siteFirst ? std::string("misc | site | initnew | doverb in place | advise")
                              : std::string("misc | initnew | site | doverb in place | advise"),
                    row + "hosting steps: " + hosting);
        expectEqual(tearDown, std::string("unadvise | close | site null | destroy"), row + "tear-down steps: " + tearDown);
        expectEqual(loggedStarting(lines, "destroy"), 1, row + "the control is released");
        expect(logged(lines, "destroy"), row + "no site or sink is left with the control");
    }
}

void unregisteredControl()
{
    Events events;
    const std::string failure = failureOf([&] { TrelkControl control(L"Tavrin.NotRegistered", events.handler()); });
    expect(failure.find("Tavrin.NotRegistered is not registered") != std::string::npos,
           "an unregistered ProgID is an error naming it: " + failure);
}

void systemWordsFilled()
{
    const std::string words = describe(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), L"C:\\Controller\\Trelk.ocx");
    expect(words.find("C:\\Controller\\Trelk.ocx") != std::string::npos && words.find('%') == std::string::npos,
           "the system's words with their insert filled: " + words);
}

void argumentsOfEveryOperation()
{
    const std::wstring log = useMode("writeback");
    Events events;
    TrelkControl control(kProgId, events.handler());

    expect(control.ConnectClient(L"Load_Tavrin", L"", 0), "ConnectClient answers true");
    control.DisconnectClient();
    std::wstring name = L"$load_tavrin";
    std::wstring value = L"true";
    expectEqual(control.BeginSetVar(name, value), short(1), "BeginSetVar gives the job number");
    expect(name == L"$LOAD_TAVRIN" && value == L"TRUE", "BeginSetVar writes back both texts");
    expect(control.GetSetVarResult(1), "GetSetVarResult answers true");
    std::wstring variable = L"$load_tavrin";
    expectEqual(control.BeginShowVar(variable, L""), short(2), "BeginShowVar gives the job number");
    expect(variable == L"$LOAD_TAVRIN", "BeginShowVar writes back the name");
    std::wstring read = L"before";
    expect(control.GetShowVarResult(2, read), "GetShowVarResult answers true");
    expect(read == L"$LOAD_TAVRIN=TRUE", "GetShowVarResult writes the value");
    short job = 1, code1 = -5, code2 = -5;
    std::wstring text1 = L"x", text2 = L"x", errorText = L"x";
    control.GetJobError(job, code1, code2, text1, text2, errorText);
    expect(job == 1 && code1 == 0 && code2 == 0, "GetJobError writes its numbers");
    expect(text1 == L"Trelk" && text2 == L"$LOAD_TAVRIN" && errorText.empty(), "GetJobError writes its three texts");

    // The stand-in rejects any other id, count, order or type, so these are exact.
    const std::string calls = joined(logLines(log), 0, SIZE_MAX, "call ");
    expectEqual(calls,
                std::string("call ConnectClient(\"Load_Tavrin\", \"\", 0) -> true | call DisconnectClient() | "
                            "call BeginSetVar(\"$load_tavrin\", \"true\") -> 1; \"$LOAD_TAVRIN\"; \"TRUE\" | "
                            "call GetSetVarResult(1) -> true | "
                            "call BeginShowVar(\"$load_tavrin\", \"\") -> 2; \"$LOAD_TAVRIN\" | "
                            "call GetShowVarResult(2, \"before\") -> true; \"$LOAD_TAVRIN=TRUE\" | "
                            "call GetJobError(1, -5, -5, \"x\", \"x\", \"x\") -> \"\""),
                "every operation reaches the control as its table gives it: " + calls);
}

void resultCoercions()
{
    for (const std::string type : {"bool", "i2", "i4", "i4ref"}) {
        const std::string row = "answers as " + type + ": ";
        const bool boolean = type == "bool";
        useMode(boolean ? type : type + ",job=-12");
        Events events;
        TrelkControl control(kProgId, events.handler());
        std::wstring name = L"$A", value = L"1";
        const short expectedJob = boolean ? short(-1) : short(-12); // job 1 as VARIANT_TRUE is -1
        expectEqual(control.BeginSetVar(name, value), expectedJob, row + "job number");
        const short job = boolean ? short(1) : expectedJob;
        expect(control.GetSetVarResult(job), row + "true"); // as a number, -1: any non-zero answer is true
        expect(!control.GetSetVarResult(short(job + 1)), row + "false for a job never started");
    }
    useMode("job=70000");
    Events events;
    TrelkControl control(kProgId, events.handler());
    std::wstring name = L"$A", value = L"1";
    const std::string failure = failureOf([&] { control.BeginSetVar(name, value); });
    expect(failure.find("does not fit 16 bits") != std::string::npos, "a job number beyond 16 bits: " + failure);
}

void failuresReachTheCaller()
{
    Events events;
    std::wstring name = L"$A", value = L"1";
    useMode("raise");
    {
        TrelkControl control(kProgId, events.handler());
        expectEqual(failureOf([&] { control.BeginSetVar(name, value); }),
                    std::string("BeginSetVar: No connection to the controller"), "the exception's description");
    }
    useMode("fail");
    TrelkControl control(kProgId, events.handler());
    const std::string failure = failureOf([&] { control.BeginShowVar(name, L""); });
    expect(failure.rfind("BeginShowVar: ", 0) == 0 && failure.find("0x80004005") != std::string::npos,
           "a failing call's HRESULT in words: " + failure);
}

void eventsComeWithTheMessageQueue()
{
    for (const bool byReference : {false, true}) {
        for (const bool classInfo : {true, false}) {
            const std::string row = std::string(byReference ? "by reference" : "by value") +
                                    (classInfo ? ", class info: " : ", listed points: ");
            // With class information the job-finished event is known by name
            // among others of two arguments; without class or type
            // information the events are found by listing the connection
            // points, and it by its two arguments.
            useMode(std::string("refuse,job=9") + (byReference ? ",byref" : "") +
                    (classInfo ? ",progress" : ",noclassinfo,notypeinfo"));
            Events events;
            TrelkControl control(kProgId, events.handler());
            control.ConnectClient(L"Load_Tavrin", L"", 0); // posts a one-argument event the host ignores
            std::wstring name = L"$A", value = L"1";
            control.BeginSetVar(name, value);
            expect(events.seen.empty(), row + "not inside the start call");
            pumpFor(100);
            expect(events.seen == std::vector<std::pair<short, long>>{{9, 1}},
                   row + "the job-finished event, and only it, once the messages are pumped");
        }
    }
}

// Each row a control that asks of its container what a control framework
// asks of a form, and refuses or stays in design mode without it.
void whatFrameworksAsk()
{
    struct Row {
        std::string mode;
        std::string failure;                  // creating the control fails with this, else empty
        std::vector<std::string> logLines;    // in the stand-in's log, in this order
    };
    const std::string ambient = "ambient USERMODE=true UIDEAD=false SHOWGRABHANDLES=false SHOWHATCHING=false "
                                "MESSAGEREFLECT=false AUTOCLIP=true DISPLAYNAME=\"Trelk1\" LOCALEID=" +
                                std::to_string(GetUserDefaultLCID()) + " BACKCOLOR=none";
    const std::vector<Row> rows = {
        {"frame", "", {"doverb in place", "advise"}},
        {"ambient", "", {ambient, "advise"}},
        {"usereg,sitefirst", "", {"misc", "site", "initnew", "doverb in place"}},
        {"propertybag,sitefirst", "", {"site", "initnew", "doverb in place"}},
        {"licensed", "", {"licence key given", "created with a licence key", "advise"}},
        {"unlicensed", "The controller's communication control TrelkLib.Trelk is not licensed on this PC", {}},
        {"noactivate", "The control TrelkLib.Trelk refused to start (in-place activation): ", {}},
        {"lateevent", "", {"unadvise", "event JobFinished(99, 0) after unadvise"}},
        {"strict", "", {"created with a licence key", "misc", "site", "initnew", ambient, "advise"}},
    };
    for (const Row &row : rows) {
        const std::string is = row.mode + ": ";
        const std::wstring log = useMode(row.mode);
        Events events;
        const std::string failure = failureOf([&] {
            TrelkControl control(kProgId, events.handler());
            control.ConnectClient(L"Load_Tavrin", L"", 0);
            std::wstring name = L"$LOAD_TAVRIN", value = L"TRUE";
            control.BeginSetVar(name, value);
            pumpFor(100);
            expect(events.seen == std::vector<std::pair<short, long>>{{1, 0}}, is + "the job's event arrives");
        });
        if (row.failure.empty())
            expectEqual(failure, std::string("no failure"), is + "hosted");
        else
            expect(failure.rfind(row.failure, 0) == 0, is + "the failure says why: " + failure);
        expect(events.seen.size() <= 1, is + "no event reaches the host once it is gone");
        const auto lines = logLines(log);
        size_t at = 0;
        for (const std::string &line : row.logLines) {
            while (at < lines.size() && lines[at] != line)
                ++at;
            expect(at < lines.size(), is + "logged in order: " + line);
        }
    }
}

} // namespace

int main()
{
    DWORD registration = 0;
    if (FAILED(OleInitialize(nullptr)) || !offerStandin(registration)) {
        std::printf("FAIL: the stand-in control cannot be offered\n");
        return 1;
    }
    hostingOrder();
    unregisteredControl();
    systemWordsFilled();
    argumentsOfEveryOperation();
    resultCoercions();
    failuresReachTheCaller();
    eventsComeWithTheMessageQueue();
    whatFrameworksAsk();
    CoRevokeClassObject(registration);
    OleUninitialize();
    return checkResult();
}
