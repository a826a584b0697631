#include "Dpi.h"

namespace fw {

UINT WindowDpi(HWND window)
{
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr && window != nullptr) {
        UINT dpi = getDpiForWindow(window);
        if (dpi != 0)
            return dpi;
    }
    UINT dpi = kDesignDpi;
    if (HDC screen = ::GetDC(nullptr)) {
        int logPixels = ::GetDeviceCaps(screen, LOGPIXELSX);
        if (logPixels > 0)
            dpi = static_cast<UINT>(logPixels);
        ::ReleaseDC(nullptr, screen);
    }
    return dpi;
}

}  // namespace fw
