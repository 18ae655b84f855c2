#pragma once

// Telling the stand-in control (standin/TrelkStandin.cpp) how to behave, and
// reading its log of what reached it.

#include "Check.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

inline std::wstring standinLogPath(const std::string &name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return folder + std::wstring(name.begin(), name.end()) + L".log";
}

// Sets the stand-in's mode and a fresh log for the next control created.
inline std::wstring useMode(const std::string &mode)
{
    std::string name = "trelk_standin_" + mode;
    for (char &c : name)
        c = c == ',' || c == '=' ? '_' : c;
    const std::wstring log = standinLogPath(name);
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"TRELK_STANDIN_MODE", std::wstring(mode.begin(), mode.end()).c_str());
    SetEnvironmentVariableW(L"TRELK_STANDIN_LOG", log.c_str());
    return log;
}

inline std::vector<std::string> logLines(const std::wstring &log)
{
    std::vector<std::string> lines;
    std::ifstream file{std::filesystem::path(log)};
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line.substr(line.find(' ') + 1)); // without the time
    }
    return lines;
}

inline bool logged(const std::vector<std::string> &lines, const std::string &line)
{
    for (const std::string &l : lines)
        if (l == line)
            return true;
    return false;
}

inline int loggedStarting(const std::vector<std::string> &lines, const std::string &start)
{
    int count = 0;
    for (const std::string &l : lines)
        count += l.rfind(start, 0) == 0;
    return count;
}

// Long enough for the stand-in's 20 ms events, twice over.
inline void pumpFor(DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        pumpMessages();
        Sleep(5);
    }
}
