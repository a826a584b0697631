#pragma once
// Checks of a window's layout at the screen's scale: no two visible controls overlap, each lies
// inside the window, and every text is shown whole in its control's font. The scale is the LogPixels
// that tests/support/at-dpi.sh gave the prefix (KESTROVA_TEST_DPI), 96 without it.
#include "framework/Dpi.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

inline UINT ScreenDpi()
{
    const char* dpi = std::getenv("KESTROVA_TEST_DPI");
    return dpi != nullptr && std::atoi(dpi) > 0 ? static_cast<UINT>(std::atoi(dpi)) : fw::kDesignDpi;
}

inline int S(int length, UINT dpi = ScreenDpi())
{
    return fw::ScaleForDpi(length, dpi);
}

inline std::string ClassOf(HWND window)
{
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

inline std::string Describe(HWND control)
{
    return ClassOf(control) + " " + std::to_string(::GetDlgCtrlID(control)) + " \"" + testsupport::WindowText(control) +
        "\"";
}

inline RECT RectIn(HWND top, HWND control)
{
    RECT rect {};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

inline bool IsCheckOrRadio(HWND control)
{
    if (ClassOf(control) != "Button")
        return false;
    switch (::GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: return true;
    default: return false;
    }
}

// Where the text of a control goes and the flags it is drawn with; false for a control whose text
// is not drawn as it stands (pictures, edits, lists, texts shortened with an ellipsis on purpose).
inline bool TextBox(HWND control, RECT& box, UINT& flags)
{
    const std::string cls = ClassOf(control);
    const LONG style = ::GetWindowLongA(control, GWL_STYLE);
    ::GetClientRect(control, &box);
    flags = DT_CALCRECT;
    if (cls == "Static") {
        const LONG type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE)
            return false;
        if (style & (SS_ENDELLIPSIS | SS_PATHELLIPSIS | SS_WORDELLIPSIS))
            return false;
        if (style & SS_NOPREFIX)
            flags |= DT_NOPREFIX;
        flags |= type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE || (style & SS_CENTERIMAGE) ? DT_SINGLELINE
                                                                                            : DT_WORDBREAK;
        return true;
    }
    if (cls != "Button" || (style & (BS_BITMAP | BS_ICON)))
        return false;
    const LONG type = style & BS_TYPEMASK;
    if (type == BS_GROUPBOX || type == BS_OWNERDRAW)
        return false;
    const UINT dpi = fw::WindowDpi(control);
    // A check box or radio button draws its box, then a gap, then the text; a push button keeps a
    // frame around its text.
    if (IsCheckOrRadio(control))
        box.left += fw::SystemMetricForDpi(SM_CXMENUCHECK, dpi) + S(3, dpi);
    else
        ::InflateRect(&box, -S(3, dpi), -S(3, dpi));
    flags |= (style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE;
    return true;
}

// The text's size in the control's own font, laid out in its box.
inline RECT TextExtent(HWND control, RECT box, UINT flags, const std::string& text)
{
    HDC dc = ::GetDC(control);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT needed = box;
    needed.bottom = needed.top + 10000;
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &needed, flags);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return needed;
}

// What a control shows, in `top`'s client coordinates: a check box only as tall as its text and
// box, centred, since its window may reach into its neighbour's row; everything else its window.
inline RECT InkRect(HWND top, HWND control)
{
    RECT rect = RectIn(top, control);
    RECT box {};
    UINT flags = 0;
    if (IsCheckOrRadio(control) && TextBox(control, box, flags)) {
        RECT text = TextExtent(control, box, flags, testsupport::WindowText(control));
        const int height = std::max<int>(text.bottom - text.top,
            fw::SystemMetricForDpi(SM_CYMENUCHECK, fw::WindowDpi(control)));
        const int middle = (rect.top + rect.bottom) / 2;
        rect.top = std::max<LONG>(rect.top, middle - height / 2);
        rect.bottom = std::min<LONG>(rect.bottom, rect.top + height);
    }
    return rect;
}

// The visible controls of `top` and of the containers among them (pages), without the containers.
inline std::vector<HWND> VisibleControls(HWND top, const std::set<HWND>& containers)
{
    std::vector<HWND> found;
    std::vector<HWND> parents {top};
    for (size_t i = 0; i < parents.size(); ++i) {
        for (HWND child = ::GetWindow(parents[i], GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (!::IsWindowVisible(child))
                continue;
            if (containers.count(child) != 0)
                parents.push_back(child);
            else
                found.push_back(child);
        }
    }
    return found;
}

// No two visible controls overlap, each lies inside the window's client area, and every text is
// shown whole in its control's font.
inline void ExpectTidy(HWND top, const std::set<HWND>& containers, const std::string& what)
{
    SCOPED_TRACE(what + " at " + std::to_string(fw::WindowDpi(top)) + " DPI");
    RECT client {};
    ::GetClientRect(top, &client);
    const std::vector<HWND> controls = VisibleControls(top, containers);
    ASSERT_FALSE(controls.empty());
    for (size_t a = 0; a < controls.size(); ++a) {
        RECT ra = InkRect(top, controls[a]), inside {};
        EXPECT_TRUE(::IntersectRect(&inside, &ra, &client) && ::EqualRect(&inside, &ra))
            << Describe(controls[a]) << " reaches out of the window";
        for (size_t b = a + 1; b < controls.size(); ++b) {
            RECT rb = InkRect(top, controls[b]), both {};
            EXPECT_FALSE(::IntersectRect(&both, &ra, &rb))
                << Describe(controls[a]) << " overlaps " << Describe(controls[b]) << " by " << both.right - both.left
                << "x" << both.bottom - both.top;
        }
        RECT box {};
        UINT flags = 0;
        const std::string text = testsupport::WindowText(controls[a]);
        if (text.empty() || !TextBox(controls[a], box, flags))
            continue;
        RECT needed = TextExtent(controls[a], box, flags, text);
        EXPECT_LE(needed.right - needed.left, box.right - box.left) << Describe(controls[a]) << " is cut off";
        EXPECT_LE(needed.bottom - needed.top, box.bottom - box.top) << Describe(controls[a]) << " is cut off";
    }
}

// What Windows sends a window dragged onto a monitor of `dpi`: its rectangle scaled about its corner.
inline RECT SendDpiChange(HWND window, UINT from, UINT to)
{
    RECT rect {};
    ::GetWindowRect(window, &rect);
    RECT suggested {rect.left, rect.top, rect.left + ::MulDiv(rect.right - rect.left, static_cast<int>(to),
                                                                static_cast<int>(from)),
        rect.top + ::MulDiv(rect.bottom - rect.top, static_cast<int>(to), static_cast<int>(from))};
    ::SendMessageA(window, WM_DPICHANGED, MAKEWPARAM(to, to), reinterpret_cast<LPARAM>(&suggested));
    return suggested;
}

}  // namespace testsupport
