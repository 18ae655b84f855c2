#pragma once

// The few checks the plain Windows tests share; they run without Qt Test.

#include "controller/TrelkControl.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

inline int g_passed = 0;
inline int g_failed = 0;

inline void expect(bool ok, const std::string &what)
{
    if (ok) {
        ++g_passed;
        return;
    }
    ++g_failed;
    std::printf("FAIL: %s\n", what.c_str());
}

template <typename A, typename B>
void expectEqual(const A &actual, const B &expected, const std::string &what)
{
    expect(actual == expected, what);
}

inline std::string failureOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const TrelkControlError &e) {
        return e.what();
    }
    return "no failure";
}

inline void pumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The job-finished events a host passed on, in order.
struct Events {
    std::vector<std::pair<short, long>> seen;
    TrelkControl::JobFinishedHandler handler()
    {
        return [this](short job, long status) { seen.emplace_back(job, status); };
    }
};

// The summary line and the exit code of a test program.
inline int checkResult()
{
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
