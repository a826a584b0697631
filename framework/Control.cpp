#include "framework/Control.h"

namespace fw {

namespace {
const char kObjectProperty[] = "fw.Control";
}

Control::~Control()
{
    Unsubclass();
}

bool Control::OnReflectedNotify(const NMHDR&, LRESULT&)
{
    return false;
}

Control* Control::FromHandle(HWND hwnd)
{
    if (hwnd == nullptr)
        return nullptr;
    return static_cast<Control*>(::GetPropA(hwnd, kObjectProperty));
}

bool Control::Subclass()
{
    if (hwnd_ == nullptr || originalProc_ != nullptr)
        return false;
    if (!::SetPropA(hwnd_, kObjectProperty, this))
        return false;
    originalProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Control::SubclassProc)));
    if (originalProc_ == nullptr) {
        ::RemovePropA(hwnd_, kObjectProperty);
        return false;
    }
    return true;
}

void Control::Unsubclass()
{
    if (originalProc_ == nullptr)
        return;
    if (::IsWindow(hwnd_)) {
        ::SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(originalProc_));
        ::RemovePropA(hwnd_, kObjectProperty);
    }
    originalProc_ = nullptr;
}

LRESULT Control::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallOriginal(msg, wParam, lParam);
}

LRESULT Control::CallOriginal(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return ::CallWindowProcA(originalProc_, hwnd_, msg, wParam, lParam);
}

// mingw's 32-bit unwinder cannot cross user32 frames, so nothing may escape from here.
LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    Control* self = FromHandle(hwnd);
    if (self == nullptr || self->originalProc_ == nullptr)
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        WNDPROC original = self->originalProc_;
        self->Unsubclass();
        return ::CallWindowProcA(original, hwnd, msg, wParam, lParam);
    }
    try {
        return self->WindowProc(msg, wParam, lParam);
    } catch (...) {
        return self->CallOriginal(msg, wParam, lParam);
    }
}

}  // namespace fw
