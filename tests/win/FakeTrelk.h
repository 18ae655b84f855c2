#pragma once

// A stand-in for the maker's control: an in-process object with IDispatch,
// IOleObject, IPersistStreamInit, connection points and class information,
// registered under a test ProgID. It rejects a wrong dispatch id, argument
// count or argument type, replaces by-reference texts, answers in the result
// type asked for, and fires its events later through the message queue.

#include <windows.h>

#include <string>
#include <vector>

inline constexpr wchar_t kFakeProgId[] = L"Tavrin.FakeTrelk";
inline constexpr DISPID kJobFinishedEvent = 1;
inline constexpr DISPID kOtherEvent = 2; // one argument; the host must ignore it

struct FakeBehaviour {
    bool siteFirst = false;        // OLEMISC_SETCLIENTSITEFIRST
    bool classInfo2 = true;        // else the events are found by listing the connection points
    VARTYPE resultType = VT_I4;    // VT_BOOL, VT_I2, VT_I4 or VT_BYREF | VT_I4
    long jobNumber = 7;            // what the Begin calls answer
    long answer = 1;               // what the result calls answer
    bool eventsByReference = false;
    long eventStatus = 0;
    std::wstring raise;            // not empty: the Begin calls raise an exception with this description
    HRESULT failure = S_OK;        // not S_OK: the Begin calls fail with it
};

struct FakeRecord {
    std::vector<std::string> calls; // hosting steps and method calls with their arguments, in order
    int liveControls = 0;           // fake controls not yet destroyed
    int heldReferences = 0;         // sites and sinks the fake holds
};

FakeBehaviour &fakeBehaviour();
FakeRecord &fakeRecord();

// Registers the ProgID and this process's class object; false on failure.
bool registerFakeTrelk();
void revokeFakeTrelk();
