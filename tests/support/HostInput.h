#pragma once
// Real input for tests that drive the display as a user would: host programs such as
// /usr/bin/xdotool are started like any Windows program, and the calling thread keeps handling its
// messages meanwhile, so that windows of this process see the input as it arrives.
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>

namespace testsupport {

// Dispatches the calling thread's messages for `ms` milliseconds.
inline void DispatchFor(DWORD ms)
{
    for (DWORD start = ::GetTickCount();;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (::GetTickCount() - start >= ms)
            return;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Runs a host command line (no double quotes in it) through /bin/sh and waits up to `timeoutMs`
// for it, dispatching the calling thread's messages; then keeps dispatching for `settleMs` so that
// the last events are handled. True when the command ended with exit code 0. The end is seen
// through a marker file with the exit code, since Wine's handle of a host process does not tell.
inline bool RunHost(const std::string& command, DWORD timeoutMs = 15000, DWORD settleMs = 200)
{
    static int counter = 0;
    const std::string marker =
        "/tmp/kv-host-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
    std::string markerPath = "Z:" + marker;
    for (char& c : markerPath)
        if (c == '/')
            c = '\\';
    ::DeleteFileA(markerPath.c_str());
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    std::string line =
        "/bin/sh -c \"" + command + "; echo $? > " + marker + ".part; mv " + marker + ".part " + marker + "\"";
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    bool ended = false;
    for (DWORD start = ::GetTickCount(); ::GetTickCount() - start < timeoutMs;) {
        if (::GetFileAttributesA(markerPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
            ended = true;
            break;
        }
        DispatchFor(10);
    }
    int code = 1;
    if (ended) {
        HANDLE file =
            ::CreateFileA(markerPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        char text[16] = {};
        DWORD read = 0;
        if (file != INVALID_HANDLE_VALUE) {
            ::ReadFile(file, text, sizeof text - 1, &read, nullptr);
            ::CloseHandle(file);
            code = std::atoi(text);
        }
        ::DeleteFileA(markerPath.c_str());
    }
    DispatchFor(settleMs);
    return ended && code == 0;
}

inline bool Xdotool(const std::string& arguments, DWORD settleMs = 200)
{
    return RunHost("/usr/bin/xdotool " + arguments, 15000, settleMs);
}

inline std::string PointText(POINT point)
{
    return std::to_string(point.x) + " " + std::to_string(point.y);
}

// The screen point in the middle of a list-view item's label.
inline POINT ItemCentre(HWND list, int item)
{
    RECT rect {};
    rect.left = LVIR_LABEL;
    ::SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
    POINT point {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ::ClientToScreen(list, &point);
    return point;
}

// A point well inside a window's client area, below a list view's column header.
inline POINT ClientPoint(HWND window, int x, int y)
{
    POINT point {x, y};
    ::ClientToScreen(window, &point);
    return point;
}

// A real left click (or double click) at a screen point.
inline bool ClickScreen(POINT point, int clicks = 1, DWORD settleMs = 300)
{
    std::string command = "mousemove " + PointText(point) + " sleep 0.05 click";
    if (clicks > 1)
        command += " --repeat " + std::to_string(clicks) + " --delay 80";
    return Xdotool(command + " 1", settleMs);
}

// A real left click in the middle of a window, whichever process owns it.
inline bool ClickWindow(HWND window, DWORD settleMs = 300)
{
    RECT rect {};
    ::GetWindowRect(window, &rect);
    return ClickScreen(POINT {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}, 1, settleMs);
}

// One xdotool chain for a drag with the left button: press at `from`, ten moves 30 ms apart towards
// `to`, then `finish` (by default releasing the left button; "click 3" releases nothing and clicks
// the right button instead).
inline std::string DragCommand(POINT from, POINT to, const std::string& finish = "mouseup 1")
{
    std::string command = "mousemove " + PointText(from) + " sleep 0.1 mousedown 1 sleep 0.2";
    for (int step = 1; step <= 10; ++step) {
        POINT at {from.x + (to.x - from.x) * step / 10, from.y + (to.y - from.y) * step / 10};
        command += " mousemove " + PointText(at) + " sleep 0.03";
    }
    return command + " sleep 0.2 " + finish;
}

}  // namespace testsupport
