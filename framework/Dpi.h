#pragma once
#include <windows.h>

// Sent to a top-level window that moved to a monitor of another scale (Windows 8.1 and later; the
// headers name it only for newer targets than ours).
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace fw {

// The layouts and pictures of the programs are designed at 96 dots per inch (100 %); a window on
// a monitor of another scale gets them multiplied by its DPI / 96.
constexpr UINT kDesignDpi = 96;

// The DPI of the monitor the window is on (per-monitor aware programs), or the system's DPI where
// Windows has no GetDpiForWindow (before Windows 10 1607): never 0.
UINT WindowDpi(HWND window);

// A length of the 96-DPI design at `dpi`, rounded to the nearest pixel; negative lengths keep
// their sign.
inline int ScaleForDpi(int length, UINT dpi)
{
    return ::MulDiv(length, static_cast<int>(dpi), static_cast<int>(kDesignDpi));
}

// A length measured at `dpi` back in 96-DPI units (what is stored, so it means the same on every
// screen).
inline int UnscaleForDpi(int length, UINT dpi)
{
    return dpi == 0 ? length : ::MulDiv(length, static_cast<int>(kDesignDpi), static_cast<int>(dpi));
}

// A system metric (GetSystemMetrics index) as it is at `dpi`: GetSystemMetricsForDpi where Windows
// has it, otherwise the system's value scaled from the system DPI.
int SystemMetricForDpi(int index, UINT dpi);

}  // namespace fw
