// The Windows control host against a fake control, under Wine on CI.

#include "Check.h"
#include "FakeTrelk.h"

#include <ole2.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::string joined(const std::vector<std::string> &calls)
{
    std::string out;
    for (const std::string &c : calls)
        out += (out.empty() ? "" : " | ") + c;
    return out;
}

// The calls since `from`, joined, for comparing with what a test expects.
std::string callsSince(size_t from)
{
    const auto &calls = fakeRecord().calls;
    return joined(std::vector<std::string>(calls.begin() + long(std::min(from, calls.size())), calls.end()));
}

void resetFake(FakeBehaviour behaviour = {})
{
    fakeBehaviour() = std::move(behaviour);
    fakeRecord().calls.clear();
}

void hostingOrder()
{
    for (const bool siteFirst : {false, true}) {
        const std::string row = siteFirst ? "site first: " : "site after InitNew: ";
        FakeBehaviour behaviour;
        behaviour.siteFirst = siteFirst;
        resetFake(behaviour);
        {
            Events events;
            TrelkControl control(kFakeProgId, events.handler());
            expectEqual(callsSince(0),
                        siteFirst ? std::string("GetMiscStatus | SetClientSite | InitNew | DoVerb(in place) | Advise")
                                  : std::string("GetMiscStatus | InitNew | SetClientSite | DoVerb(in place) | Advise"),
                        row + "hosting steps: " + callsSince(0));
        }
        expectEqual(callsSince(5), std::string("Unadvise | Close(no save) | SetClientSite(null)"),
                    row + "tear-down steps: " + callsSince(5));
        expectEqual(fakeRecord().liveControls, 0, row + "the control is released");
        expectEqual(fakeRecord().heldReferences, 0, row + "no site or sink is left with the control");
    }
}

void unregisteredControl()
{
    Events events;
    const std::string failure = failureOf([&] { TrelkControl control(L"Tavrin.NotRegistered", events.handler()); });
    expect(failure.find("Tavrin.NotRegistered is not registered") != std::string::npos,
           "an unregistered ProgID is an error naming it: " + failure);
}

void argumentsOfEveryOperation()
{
    resetFake();
    Events events;
    TrelkControl control(kFakeProgId, events.handler());
    const size_t start = fakeRecord().calls.size();

    expect(control.ConnectClient(L"Load_Tavrin", L"", 0), "ConnectClient answers true");
    control.DisconnectClient();
    std::wstring name = L"$LOAD_TAVRIN";
    std::wstring value = L"TRUE";
    expectEqual(control.BeginSetVar(name, value), short(7), "BeginSetVar gives the job number");
    expect(name == L"replaced name" && value == L"replaced value", "BeginSetVar writes back both texts");
    expect(control.GetSetVarResult(7), "GetSetVarResult answers true");
    std::wstring variable = L"$OV_PRO";
    expectEqual(control.BeginShowVar(variable, L""), short(7), "BeginShowVar gives the job number");
    expect(variable == L"replaced name", "BeginShowVar writes back the name");
    std::wstring read = L"before";
    expect(control.GetShowVarResult(7, read), "GetShowVarResult answers true");
    expect(read == L"$OV_PRO=100", "GetShowVarResult writes the value");
    short job = 7, code1 = 0, code2 = 0;
    std::wstring text1, text2, errorText;
    control.GetJobError(job, code1, code2, text1, text2, errorText);
    expect(job == 7 && code1 == 11 && code2 == 22, "GetJobError writes its numbers");
    expect(text1 == L"first text" && text2 == L"second text" && errorText == L"job failed on the controller",
           "GetJobError writes its three texts");

    // The fake rejects any other id, count, order or type, so these are exact.
    expectEqual(callsSince(start),
                std::string("ConnectClient(Load_Tavrin,,0) | DisconnectClient() | BeginSetVar($LOAD_TAVRIN,TRUE) | "
                            "GetSetVarResult(7) | BeginShowVar($OV_PRO,) | GetShowVarResult(7,before) | "
                            "GetJobError(7,0,0,,,)"),
                "every operation reaches the control as its table gives it: " + callsSince(start));
}

void resultCoercions()
{
    for (const VARTYPE type : {VARTYPE(VT_BOOL), VARTYPE(VT_I2), VARTYPE(VT_I4), VARTYPE(VT_BYREF | VT_I4)}) {
        const std::string row = "result type " + std::to_string(type) + ": ";
        FakeBehaviour behaviour;
        behaviour.resultType = type;
        behaviour.jobNumber = type == VT_BOOL ? 1 : -12;
        behaviour.answer = type == VT_BOOL ? 1 : 3; // any non-zero answer is true
        resetFake(behaviour);
        Events events;
        TrelkControl control(kFakeProgId, events.handler());
        std::wstring name = L"$A", value = L"1";
        const short expectedJob = type == VT_BOOL ? short(-1) : short(-12); // VARIANT_TRUE is -1
        expectEqual(control.BeginSetVar(name, value), expectedJob, row + "job number");
        expect(control.GetSetVarResult(1), row + "true");
        fakeBehaviour().answer = 0;
        expect(!control.GetSetVarResult(1), row + "false");
    }
    FakeBehaviour tooLarge;
    tooLarge.jobNumber = 70000;
    resetFake(tooLarge);
    Events events;
    TrelkControl control(kFakeProgId, events.handler());
    std::wstring name = L"$A", value = L"1";
    const std::string failure = failureOf([&] { control.BeginSetVar(name, value); });
    expect(failure.find("does not fit 16 bits") != std::string::npos, "a job number beyond 16 bits: " + failure);
}

void failuresReachTheCaller()
{
    FakeBehaviour raising;
    raising.raise = L"no connection to the controller";
    resetFake(raising);
    Events events;
    TrelkControl control(kFakeProgId, events.handler());
    std::wstring name = L"$A", value = L"1";
    expectEqual(failureOf([&] { control.BeginSetVar(name, value); }),
                std::string("BeginSetVar: no connection to the controller"), "the exception's description");
    fakeBehaviour().raise.clear();
    fakeBehaviour().failure = E_FAIL;
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
            FakeBehaviour behaviour;
            behaviour.eventsByReference = byReference;
            behaviour.classInfo2 = classInfo;
            behaviour.jobNumber = 9;
            behaviour.eventStatus = 1;
            resetFake(behaviour);
            Events events;
            TrelkControl control(kFakeProgId, events.handler());
            std::wstring name = L"$A", value = L"1";
            control.BeginSetVar(name, value);
            expect(events.seen.empty(), row + "not inside the start call");
            pumpMessages();
            expect(events.seen == std::vector<std::pair<short, long>>{{9, 1}},
                   row + "the job-finished event, and only it, once the messages are pumped");
        }
    }
}

} // namespace

int main()
{
    if (FAILED(OleInitialize(nullptr)) || !registerFakeTrelk()) {
        std::printf("FAIL: the fake control cannot be registered\n");
        return 1;
    }
    hostingOrder();
    unregisteredControl();
    argumentsOfEveryOperation();
    resultCoercions();
    failuresReachTheCaller();
    eventsComeWithTheMessageQueue();
    revokeFakeTrelk();
    OleUninitialize();
    return checkResult();
}
