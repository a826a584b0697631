#include "framework/ListView.h"

#include <cstring>
#include <vector>

namespace fw {

int ListView::InsertColumn(int index, const std::string& text, int width) const
{
    LVCOLUMNA column {};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<char*>(text.c_str());
    column.iSubItem = index;
    return static_cast<int>(Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)));
}

int ListView::GetColumnCount() const
{
    HWND header = reinterpret_cast<HWND>(Send(LVM_GETHEADER));
    if (header == nullptr)
        return 0;
    return static_cast<int>(::SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
}

int ListView::InsertItem(int index, const std::string& text, int image) const
{
    LVITEMA item {};
    item.mask = LVIF_TEXT;
    if (image >= 0) {
        item.mask |= LVIF_IMAGE;
        item.iImage = image;
    }
    item.iItem = index;
    item.pszText = const_cast<char*>(text.c_str());
    return static_cast<int>(Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
}

bool ListView::SetItemText(int item, int subItem, const std::string& text) const
{
    LVITEMA lv {};
    lv.iSubItem = subItem;
    lv.pszText = const_cast<char*>(text.c_str());
    return Send(LVM_SETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv)) != FALSE;
}

std::string ListView::GetItemText(int item, int subItem) const
{
    // LVM_GETITEMTEXT answers the number of characters copied; grow until the text fits.
    for (size_t size = 512;; size *= 4) {
        std::vector<char> buffer(size);
        LVITEMA lv {};
        lv.iSubItem = subItem;
        lv.pszText = buffer.data();
        lv.cchTextMax = static_cast<int>(size);
        LRESULT length = Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv));
        if (length < 0)
            length = 0;
        if (static_cast<size_t>(length) + 1 < size || size >= 65536)
            return std::string(lv.pszText, strnlen(lv.pszText, size));
    }
}

bool ListView::SetItemState(int item, UINT state, UINT mask) const
{
    LVITEMA lv {};
    lv.stateMask = mask;
    lv.state = state;
    return Send(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lv)) != FALSE;
}

int ListView::GetItemImage(int item) const
{
    LVITEMA lv {};
    lv.mask = LVIF_IMAGE;
    lv.iItem = item;
    if (Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lv)) == FALSE)
        return -1;
    return lv.iImage;
}

int ListView::HitTest(POINT point) const
{
    LVHITTESTINFO info {};
    info.pt = point;
    return static_cast<int>(Send(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
}

}  // namespace fw
