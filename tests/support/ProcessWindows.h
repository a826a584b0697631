#pragma once
// Starting a program of the build as a separate process and finding its windows from outside: the
// windows a user would see (by caption) and its message boxes. Every wait is bounded.
#include "tests/support/HostInput.h"
#include "tests/support/TestSupport.h"

#include <windows.h>

#include <string>

namespace testsupport {

// Polls `done` every `pollMs` until it holds or `timeoutMs` has passed; answers its last value.
template <typename Done> bool WaitUntil(Done done, DWORD timeoutMs, DWORD pollMs = 50)
{
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < timeoutMs; ::Sleep(pollMs))
        if (done())
            return true;
    return done();
}

// Folder of the running test program, with a trailing backslash: the build's programs lie beside it.
inline std::string BinFolder()
{
    std::string folder = ThisProgram();
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
    bool Start(const std::string& program, const std::string& folder = std::string(), const char* variable = nullptr,
        const std::string& value = std::string())
    {
        return StartCommand("\"" + program + "\"", folder, variable, value);
    }

    // The same for a whole command line: the program (quoted where its path has spaces), then its
    // arguments.
    bool StartCommand(std::string commandLine, const std::string& folder = std::string(),
        const char* variable = nullptr, const std::string& value = std::string())
    {
        Close();
        if (variable != nullptr)
            ::SetEnvironmentVariableA(variable, value.c_str());
        STARTUPINFOA startup {};
        startup.cb = sizeof startup;
        // Wine's process creation has been seen to fail once on a loaded machine, right after an
        // earlier child of the same program ended; a second try a moment later is what a user does.
        BOOL started = FALSE;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            if (attempt > 0)
                ::Sleep(500);
            started = ::CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                folder.empty() ? nullptr : folder.c_str(), &startup, &info_);
            startError_ = started ? 0 : ::GetLastError();
        }
        if (variable != nullptr)
            ::SetEnvironmentVariableA(variable, nullptr);
        return started != FALSE;
    }

    // The error of the last start that failed (0 after a start that worked).
    DWORD StartError() const { return startError_; }

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
        info_ = PROCESS_INFORMATION {};
    }

private:
    PROCESS_INFORMATION info_ {};
    DWORD startError_ = 0;
};

namespace detail {
template <typename Matches> struct ProcessWindowSearch {
    DWORD processId;
    Matches& matches;
    HWND found;
};

template <typename Matches> BOOL CALLBACK FindProcessWindow(HWND window, LPARAM lParam)
{
    auto* search = static_cast<ProcessWindowSearch<Matches>*>(reinterpret_cast<void*>(lParam));
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != search->processId || !::IsWindowVisible(window) || !search->matches(window))
        return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace detail

// The first visible top-level window of the process for which `matches(window)` holds, waiting up
// to `timeoutMs`; null when none came.
template <typename Matches> HWND WaitForProcessWindowWhere(DWORD processId, DWORD timeoutMs, Matches matches)
{
    detail::ProcessWindowSearch<Matches> search {processId, matches, nullptr};
    WaitUntil(
        [&] {
            ::EnumWindows(&detail::FindProcessWindow<Matches>, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    return search.found;
}

// The visible top-level window of the process with exactly this caption; null when none came.
inline HWND WaitForProcessWindow(DWORD processId, const std::string& caption, DWORD timeoutMs)
{
    return WaitForProcessWindowWhere(processId, timeoutMs, [&](HWND window) { return WindowText(window) == caption; });
}

// A message box that the process shows; null when none came.
inline HWND WaitForProcessMessageBox(DWORD processId, DWORD timeoutMs)
{
    return WaitForProcessWindowWhere(processId, timeoutMs, [](HWND window) { return IsMessageBox(window); });
}

// A message box of the process as the user saw it before a real click on its OK button.
struct AnsweredBox {
    bool shown = false;   // a box came up within the time given
    bool closed = false;  // and the click on OK closed it within 10 s
    std::string caption;
    std::string text;
};

// Waits for the next message box of the process and answers it as a user would.
inline AnsweredBox AnswerProcessMessageBox(DWORD processId, DWORD timeoutMs)
{
    AnsweredBox answered;
    HWND box = WaitForProcessMessageBox(processId, timeoutMs);
    if (box == nullptr)
        return answered;
    answered.shown = true;
    answered.caption = WindowText(box);
    answered.text = MessageBoxText(box);
    ClickWindow(::GetDlgItem(box, IDOK));
    answered.closed = WaitUntil([&] { return !::IsWindow(box); }, 10000);
    return answered;
}

// Closes the process's `window` as a user would: a click on its title bar gives it the keyboard,
// then Alt+F4. True when the process then ended within `timeoutMs`; `exitCode` is its exit code.
inline bool CloseWithAltF4(HWND window, const ChildProcess& process, DWORD timeoutMs, DWORD& exitCode)
{
    RECT rect {};
    ::GetWindowRect(window, &rect);
    return ClickScreen(POINT {rect.left + 60, rect.top + 10}) && Xdotool("key alt+F4", 300) &&
        process.WaitForExit(timeoutMs, exitCode);
}

}  // namespace testsupport
