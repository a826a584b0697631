#pragma once
// Small pieces the window benchmarks share: a wall clock, empty files to list and search, and
// removing what a benchmark made (the tests' own folder helper).
#include "tests/support/TestFolder.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline void MakeFile(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
}

inline void RemoveTree(const std::string& folder)
{
    testsupport::TestFolder::Remove(folder);
}

// A positive number from the environment, or `fallback`.
inline int EnvNumber(const char* name, int fallback)
{
    char text[16] = {};
    int value = ::GetEnvironmentVariableA(name, text, sizeof text) > 0 ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

inline double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace bench
