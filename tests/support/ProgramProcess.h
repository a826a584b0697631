#pragma once
#include <windows.h>

#include <string>

namespace testsupport {

// kestrova.exe beside the running test program.
inline std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of('\\') + 1);
    return folder + "kestrova.exe";
}

namespace detail {
struct MainWindowSearch {
    DWORD processId;
    HWND found;
};

inline BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<MainWindowSearch*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    char caption[64] = {};
    ::GetWindowTextA(hwnd, caption, sizeof caption);
    if (pid == search->processId && std::string(caption) == "Kestrova" && ::IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}
}  // namespace detail

// The visible "Kestrova" window of the process, waiting up to `timeoutMs`; null when none came.
inline HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        detail::MainWindowSearch search{processId, nullptr};
        ::EnumWindows(&detail::FindMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        ::Sleep(50);
    }
    return nullptr;
}

}  // namespace testsupport
