#pragma once
#include "framework/Owned.h"

#include <windows.h>

namespace fw {

// Pictures drawn again for each display scale, so that none is stretched: which set of them suits
// a window's DPI, where a picture of that set is among the resources, and icons at the sizes
// Windows uses at that DPI. A program numbers its sets by this rule: set k holds the picture of
// resource id `id` (its 96-DPI id, set 0) under id + kIdStep * k.
class ScaledPictures {
public:
    static constexpr int kSets = 4;
    static constexpr int kIdStep = 1000;
    // The DPI each set is drawn for: 100, 125, 150 and 200 %.
    static constexpr UINT kSetDpi[kSets] = {96, 120, 144, 192};

    // The set drawn for the DPI nearest `dpi`. Halfway between two sets the smaller one wins: a
    // picture never stands out of the control laid out for `dpi`. Below 96 set 0, above 192 set 3.
    static int SetFor(UINT dpi);
    // The resource id of the picture `baseId` (its 96-DPI id) in set `set`.
    static int PictureId(int baseId, int set) { return baseId + kIdStep * set; }
    // The bitmap `baseId` of the set for `dpi`, loaded as it is stored (no colour mapping, no
    // stretching); the caller owns it. Falls back to the 96-DPI picture when the set lacks it, and
    // answers null when that cannot be loaded either.
    static HBITMAP LoadPicture(HINSTANCE instance, int baseId, UINT dpi);
    // The icon `iconId` at the size of a window's large (`big`) or small icon at `dpi`, taken from
    // the icon's images of that size or the next best one; the caller owns it (null on failure).
    static HICON LoadWindowIcon(HINSTANCE instance, int iconId, UINT dpi, bool big);
    // The size of a large or small icon at `dpi` (SM_CXICON or SM_CXSMICON for that DPI).
    static int IconSize(UINT dpi, bool big);
};

// A window's large (Alt+Tab) and small (caption, taskbar) icon for its DPI, kept while the window
// shows them.
class WindowIcons {
public:
    // Loads icon `iconId` at both sizes for `dpi` and gives them to `window`; the pair it had goes.
    void Set(HWND window, HINSTANCE instance, int iconId, UINT dpi);

private:
    OwnedIcon big_;
    OwnedIcon small_;
};

}  // namespace fw
