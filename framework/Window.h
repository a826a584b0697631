#pragma once
#include <windows.h>

#include <string>

namespace fw {

// Non-owning holder of a window handle with typed one-line wrappers over the user32 calls the
// programs make. Destroying the holder never destroys the window.
class Window {
public:
    Window() = default;
    explicit Window(HWND hwnd) : hwnd_(hwnd) { }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window() = default;

    operator HWND() const { return hwnd_; }
    HWND Handle() const { return hwnd_; }
    void Attach(HWND hwnd) { hwnd_ = hwnd; }
    HWND Detach()
    {
        HWND old = hwnd_;
        hwnd_ = nullptr;
        return old;
    }
    bool IsValid() const { return hwnd_ != nullptr && ::IsWindow(hwnd_) != FALSE; }

    LRESULT Send(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(hwnd_, msg, wParam, lParam);
    }
    bool Post(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageA(hwnd_, msg, wParam, lParam) != FALSE;
    }

    bool SetText(const std::string& text) const { return ::SetWindowTextA(hwnd_, text.c_str()) != FALSE; }
    std::string GetText() const;

    bool Show(int command) const { return ::ShowWindow(hwnd_, command) != FALSE; }
    bool IsVisible() const { return ::IsWindowVisible(hwnd_) != FALSE; }
    bool Enable(bool enable) const { return ::EnableWindow(hwnd_, enable ? TRUE : FALSE) != FALSE; }
    bool IsEnabled() const { return ::IsWindowEnabled(hwnd_) != FALSE; }
    // Moves and sizes in one call, insert-after HWND_TOP and no flags, as every layout here does.
    bool SetPos(int x, int y, int width, int height) const
    {
        return ::SetWindowPos(hwnd_, HWND_TOP, x, y, width, height, 0) != FALSE;
    }
    RECT GetWindowRect() const;
    RECT GetClientRect() const;
    bool Redraw(UINT flags = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW) const
    {
        return ::RedrawWindow(hwnd_, nullptr, nullptr, flags) != FALSE;
    }
    bool Destroy();

protected:
    HWND hwnd_ = nullptr;
};

}  // namespace fw
