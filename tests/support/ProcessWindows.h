#pragma once
// Starting a program of the build as a separate process and finding its windows from outside: the
// windows a user would see (by caption) and its message boxes. Every wait is bounded.
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <string>

namespace testsupport {

// Polls `done` every 50 ms until it holds or `timeoutMs` has passed; answers its last value.
template <typename Done>
bool WaitUntil(Done done, DWORD timeoutMs)
{
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < timeoutMs; ::Sleep(50))
        if (done())
            return true;
    return done();
}

// Folder of the running test program, with a trailing backslash: the build's programs lie beside it.
inline std::string BinFolder()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.erase(folder.find_last_of('\\') + 1);
}

// A program started for one test; whatever the test does, the process does not outlive it.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Close(); }

    // Starts `program` (full path) in `folder` (empty: this process's folder), with the optional
    // environment variable set for the child only.
    bool Start(const std::string& program, const std::string& folder = std::string(),
               const char* variable = nullptr, const std::string& value = std::string())
    {
        Close();
        if (variable != nullptr)
            ::SetEnvironmentVariableA(variable, value.c_str());
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string commandLine = "\"" + program + "\"";
        BOOL started = ::CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &info_);
        if (variable != nullptr)
            ::SetEnvironmentVariableA(variable, nullptr);
        return started != FALSE;
    }

    DWORD Id() const { return info_.dwProcessId; }
    // True when the process ended within `timeoutMs`; `exitCode` is then its exit code.
    bool WaitForExit(DWORD timeoutMs, DWORD& exitCode) const
    {
        if (info_.hProcess == nullptr || ::WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0)
            return false;
        ::GetExitCodeProcess(info_.hProcess, &exitCode);
        return true;
    }
    void Close()
    {
        if (info_.hProcess == nullptr)
            return;
        if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(info_.hProcess, 99);
            ::WaitForSingleObject(info_.hProcess, 5000);
        }
        ::CloseHandle(info_.hThread);
        ::CloseHandle(info_.hProcess);
        info_ = PROCESS_INFORMATION{};
    }

private:
    PROCESS_INFORMATION info_{};
};

namespace detail {
struct ProcessWindowSearch {
    DWORD processId;
    const std::string* caption;  // null: any message box of the process
    HWND found;
};

inline BOOL CALLBACK FindProcessWindow(HWND window, LPARAM lParam)
{
    auto* search = static_cast<ProcessWindowSearch*>(reinterpret_cast<void*>(lParam));
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId || !::IsWindowVisible(window))
        return TRUE;
    bool match = search->caption == nullptr ? IsMessageBox(window) : WindowText(window) == *search->caption;
    if (!match)
        return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace detail

// The visible top-level window of the process with exactly this caption; null when none came.
inline HWND WaitForProcessWindow(DWORD processId, const std::string& caption, DWORD timeoutMs)
{
    detail::ProcessWindowSearch search{processId, &caption, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(&detail::FindProcessWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

// A message box that the process shows; null when none came.
inline HWND WaitForProcessMessageBox(DWORD processId, DWORD timeoutMs)
{
    detail::ProcessWindowSearch search{processId, nullptr, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(&detail::FindProcessWindow, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

}  // namespace testsupport
