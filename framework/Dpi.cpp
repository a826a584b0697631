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

int SystemMetricForDpi(int index, UINT dpi)
{
    using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
    static const auto getSystemMetricsForDpi = reinterpret_cast<GetSystemMetricsForDpiFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetSystemMetricsForDpi")));
    if (getSystemMetricsForDpi != nullptr)
        return getSystemMetricsForDpi(index, dpi);
    return ::MulDiv(::GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(WindowDpi(nullptr)));
}

}  // namespace fw
