#include "framework/ScaledPictures.h"

#include "framework/Dpi.h"

#include <utility>

namespace fw {

int ScaledPictures::SetFor(UINT dpi)
{
    int best = 0;
    for (int set = 1; set < kSets; ++set) {
        // Strictly nearer only: a tie keeps the smaller set.
        if (dpi * 2 > kSetDpi[set - 1] + kSetDpi[set])
            best = set;
    }
    return best;
}

HBITMAP ScaledPictures::LoadPicture(HINSTANCE instance, int baseId, UINT dpi)
{
    const int set = SetFor(dpi);
    HANDLE bitmap = ::LoadImageA(instance, MAKEINTRESOURCEA(PictureId(baseId, set)), IMAGE_BITMAP, 0, 0, 0);
    if (bitmap == nullptr && set != 0)
        bitmap = ::LoadImageA(instance, MAKEINTRESOURCEA(baseId), IMAGE_BITMAP, 0, 0, 0);
    return static_cast<HBITMAP>(bitmap);
}

int ScaledPictures::IconSize(UINT dpi, bool big)
{
    const int metric = big ? SM_CXICON : SM_CXSMICON;
    // Windows 10 1607 and later know the metrics of every DPI; before, the system's metrics are
    // those of the system DPI and are scaled from it.
    using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
    static const auto getSystemMetricsForDpi = reinterpret_cast<GetSystemMetricsForDpiFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("user32.dll"), "GetSystemMetricsForDpi")));
    if (getSystemMetricsForDpi != nullptr) {
        int size = getSystemMetricsForDpi(metric, dpi);
        if (size > 0)
            return size;
    }
    UINT systemDpi = WindowDpi(nullptr);
    return ::MulDiv(::GetSystemMetrics(metric), static_cast<int>(dpi), static_cast<int>(systemDpi));
}

HICON ScaledPictures::LoadWindowIcon(HINSTANCE instance, int iconId, UINT dpi, bool big)
{
    const int size = IconSize(dpi, big);
    return static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON, size, size, 0));
}

void WindowIcons::Set(HWND window, HINSTANCE instance, int iconId, UINT dpi)
{
    OwnedIcon big(ScaledPictures::LoadWindowIcon(instance, iconId, dpi, true));
    OwnedIcon small(ScaledPictures::LoadWindowIcon(instance, iconId, dpi, false));
    ::SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.Get()));
    ::SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.Get()));
    big_ = std::move(big);
    small_ = std::move(small);
}

}  // namespace fw
