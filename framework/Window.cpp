#include "framework/Window.h"

#include <vector>

namespace fw {

std::string Window::GetText() const
{
    int length = ::GetWindowTextLengthA(hwnd_);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    int got = ::GetWindowTextA(hwnd_, buffer.data(), length + 1);
    return std::string(buffer.data(), static_cast<size_t>(got > 0 ? got : 0));
}

RECT Window::GetWindowRect() const
{
    RECT rect {};
    ::GetWindowRect(hwnd_, &rect);
    return rect;
}

RECT Window::GetClientRect() const
{
    RECT rect {};
    ::GetClientRect(hwnd_, &rect);
    return rect;
}

bool Window::Destroy()
{
    if (hwnd_ == nullptr)
        return false;
    // The handle stays set while the window is being destroyed, so WM_DESTROY handlers can use it.
    HWND hwnd = hwnd_;
    bool destroyed = ::DestroyWindow(hwnd) != FALSE;
    if (hwnd_ == hwnd)
        hwnd_ = nullptr;
    return destroyed;
}

}  // namespace fw
