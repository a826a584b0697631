#pragma once
#include "framework/Control.h"

#include <string>

namespace fw {

// Report-view list control. Indexes are row numbers; -1 is "none" (and as a start index of
// GetNextItem "from the beginning").
class ListView : public Control {
public:
    // Inserts a left-aligned column; returns its index or -1.
    int InsertColumn(int index, const std::string& text, int width) const;
    bool DeleteColumn(int index) const { return Send(LVM_DELETECOLUMN, static_cast<WPARAM>(index)) != FALSE; }
    int GetColumnCount() const;
    int GetColumnWidth(int index) const
    {
        return static_cast<int>(Send(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(index)));
    }
    bool SetColumnWidth(int index, int width) const
    {
        return Send(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(index), MAKELPARAM(width, 0)) != FALSE;
    }

    // Inserts a row with its column-0 text and image; returns its index or -1.
    int InsertItem(int index, const std::string& text, int image = -1) const;
    bool SetItemText(int item, int subItem, const std::string& text) const;
    std::string GetItemText(int item, int subItem) const;
    bool DeleteItem(int item) const { return Send(LVM_DELETEITEM, static_cast<WPARAM>(item)) != FALSE; }
    bool DeleteAllItems() const { return Send(LVM_DELETEALLITEMS) != FALSE; }
    int GetItemCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
    int GetSelectedCount() const { return static_cast<int>(Send(LVM_GETSELECTEDCOUNT)); }
    // Next row after `start` (-1: from the beginning) with the LVNI_* flags; -1 when there is none.
    int GetNextItem(int start, UINT flags) const
    {
        return static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
    }
    UINT GetItemState(int item, UINT mask) const
    {
        return static_cast<UINT>(Send(LVM_GETITEMSTATE, static_cast<WPARAM>(item), mask));
    }
    bool SetItemState(int item, UINT state, UINT mask) const;
    int GetItemImage(int item) const;

    bool SetBkColor(COLORREF color) const { return Send(LVM_SETBKCOLOR, 0, static_cast<LPARAM>(color)) != FALSE; }
    // Gives the list an image list; with LVS_SHAREIMAGELISTS the caller keeps ownership.
    HIMAGELIST SetImageList(HIMAGELIST list, int kind) const
    {
        return reinterpret_cast<HIMAGELIST>(
            Send(LVM_SETIMAGELIST, static_cast<WPARAM>(kind), reinterpret_cast<LPARAM>(list)));
    }
    // Row under a point in client coordinates, or -1.
    int HitTest(POINT point) const;
    bool SetRedraw(bool redraw) const
    {
        Send(WM_SETREDRAW, redraw ? TRUE : FALSE);
        return true;
    }
};

}  // namespace fw
