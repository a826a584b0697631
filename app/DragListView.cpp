#include "app/DragListView.h"

#include "app/ExtractorApp.h"
#include "framework/PathInfo.h"
#include "framework/Text.h"
#include "app/ProcessObjects.h"
#include "app/RowBatch.h"
#include "resources/kestrova/resource.h"

#include <algorithm>
#include <iterator>

namespace app {

using fw::PathInfo;

namespace {

const UINT kSmallSystemIcons = 0x4001;

bool IsListView(HWND hwnd)
{
    char name[32] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    return lstrcmpiA(name, WC_LISTVIEWA) == 0;
}

}  // namespace

COLORREF ExtractionListBackground()
{
    HIGHCONTRASTA contrast {};
    contrast.cbSize = sizeof contrast;
    if (::SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
        (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0)
        return ::GetSysColor(COLOR_WINDOW);
    return RGB(223, 223, 223);
}

void DragListView::Bound()
{
    Subclass();
}

bool DragListView::IsVirtual() const
{
    return hwnd_ != nullptr && (::GetWindowLongA(hwnd_, GWL_STYLE) & LVS_OWNERDATA) != 0;
}

void DragListView::InsertRows(int index, std::vector<Row> added)
{
    if (!IsVirtual()) {
        for (auto row = added.rbegin(); row != added.rend(); ++row) {
            int at = fw::ListView::InsertItem(index, row->texts[0], row->image);
            fw::ListView::SetItemText(at, 1, row->texts[1]);
            fw::ListView::SetItemText(at, 2, row->texts[2]);
        }
        return;
    }
    if (added.empty())
        return;
    index = std::max(0, std::min(index, static_cast<int>(rows_.size())));
    const int shift = static_cast<int>(added.size());
    // The control keeps selection and focus by position: note the ones behind the insertion point.
    std::vector<int> selected;
    int focused = -1;
    if (index < static_cast<int>(rows_.size())) {
        for (int i = GetNextItem(index - 1, LVNI_SELECTED); i >= 0; i = GetNextItem(i, LVNI_SELECTED))
            selected.push_back(i);
        focused = GetNextItem(index - 1, LVNI_FOCUSED);
    }
    rows_.insert(rows_.begin() + index, std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    // What each insertion's notification does for a list with items of its own.
    SetImageList(iconCache.Handle(), LVSIL_SMALL);
    Send(LVM_SETITEMCOUNT, rows_.size(), LVSICF_NOSCROLL);
    if (!selected.empty() || focused >= 0) {
        SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        for (int i : selected)
            SetItemState(i + shift, LVIS_SELECTED, LVIS_SELECTED);
        if (focused >= 0)
            SetItemState(focused + shift, LVIS_FOCUSED, LVIS_FOCUSED);
    }
}

int DragListView::InsertItem(int index, const std::string& text, int image)
{
    if (!IsVirtual())
        return fw::ListView::InsertItem(index, text, image);
    index = std::max(0, std::min(index, static_cast<int>(rows_.size())));
    Row row;
    row.texts[0] = text;
    row.image = image;
    std::vector<Row> one;
    one.push_back(std::move(row));
    InsertRows(index, std::move(one));
    return index;
}

bool DragListView::SetItemText(int item, int subItem, const std::string& text)
{
    if (!IsVirtual())
        return fw::ListView::SetItemText(item, subItem, text);
    if (item < 0 || item >= static_cast<int>(rows_.size()) || subItem < 0 || subItem > 2)
        return false;
    rows_[static_cast<size_t>(item)].texts[subItem] = text;
    Send(LVM_REDRAWITEMS, static_cast<WPARAM>(item), static_cast<LPARAM>(item));
    return true;
}

bool DragListView::DeleteItem(int item)
{
    if (!IsVirtual())
        return fw::ListView::DeleteItem(item);
    if (item < 0 || item >= static_cast<int>(rows_.size()))
        return false;
    // The control drops the item's selection and moves the others' up before the row goes.
    bool done = fw::ListView::DeleteItem(item);
    rows_.erase(rows_.begin() + item);
    return done;
}

bool DragListView::DeleteAllItems()
{
    bool done = fw::ListView::DeleteAllItems();
    rows_.clear();
    return done;
}

// The control asks for what it shows and for what LVM_GETITEMTEXT is asked, in the character set
// the dialog chose for its notifications.
void DragListView::AnswerDisplayInfo(const NMHDR& header)
{
    if (header.code == LVN_GETDISPINFOA) {
        LVITEMA& item = const_cast<NMLVDISPINFOA&>(reinterpret_cast<const NMLVDISPINFOA&>(header)).item;
        if (item.iItem < 0 || item.iItem >= static_cast<int>(rows_.size()))
            return;
        const Row& row = rows_[static_cast<size_t>(item.iItem)];
        if ((item.mask & LVIF_TEXT) && item.pszText != nullptr && item.cchTextMax > 0) {
            const std::string& text =
                item.iSubItem >= 0 && item.iSubItem <= 2 ? row.texts[item.iSubItem] : row.texts[0];
            fw::CopyCut(text, item.pszText, item.cchTextMax);
        }
        if ((item.mask & LVIF_IMAGE) && item.iSubItem == 0)
            item.iImage = row.image;
        return;
    }
    LVITEMW& item = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
    if (item.iItem < 0 || item.iItem >= static_cast<int>(rows_.size()))
        return;
    const Row& row = rows_[static_cast<size_t>(item.iItem)];
    if ((item.mask & LVIF_TEXT) && item.pszText != nullptr && item.cchTextMax > 0) {
        const std::string& text = item.iSubItem >= 0 && item.iSubItem <= 2 ? row.texts[item.iSubItem] : row.texts[0];
        fw::CopyCut(text, item.pszText, item.cchTextMax);
    }
    if ((item.mask & LVIF_IMAGE) && item.iSubItem == 0)
        item.iImage = row.image;
}

// Type-ahead in a virtual list: the first row from `start` on whose name begins with (or, without
// LVFI_PARTIAL, equals) `text`, ignoring case, wrapping round when asked to; -1 when none does.
int DragListView::FindRow(int start, const std::string& text, UINT flags) const
{
    const int count = static_cast<int>(rows_.size());
    if (count == 0 || (flags & (LVFI_STRING | LVFI_PARTIAL)) == 0)
        return -1;
    start = start < 0 || start >= count ? 0 : start;
    const int span = (flags & LVFI_WRAP) ? count : count - start;
    for (int n = 0; n < span; ++n) {
        int i = (start + n) % count;
        const std::string& name = rows_[static_cast<size_t>(i)].texts[0];
        bool match = (flags & LVFI_PARTIAL) ? name.size() >= text.size() &&
                ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, name.c_str(), static_cast<int>(text.size()),
                    text.c_str(), static_cast<int>(text.size())) == CSTR_EQUAL
                                            : ::lstrcmpiA(name.c_str(), text.c_str()) == 0;
        if (match)
            return i;
    }
    return -1;
}

void DragListView::AddRow(HWND target, const std::string& path, const std::string& location, int icon)
{
    PathInfo info(path);
    std::string name = info.FileName();
    auto* list = dynamic_cast<DragListView*>(fw::Control::FromHandle(target));
    if (list != nullptr && list->IsVirtual()) {
        Row row;
        row.texts[0] = name;
        row.texts[1] = location;
        row.image = icon;
        if (list->batchDepth_ > 0) {
            list->heldRows_.push_back(std::move(row));
            return;
        }
        std::vector<Row> one;
        one.push_back(std::move(row));
        list->InsertRows(0, std::move(one));
        list->Send(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(ExtractionListBackground()));
        return;
    }
    LVITEMA item {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = 0;
    item.pszText = &name[0];
    item.iImage = icon;
    ::SendMessageA(target, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    LVITEMA column {};
    column.iSubItem = 1;
    column.pszText = const_cast<char*>(location.c_str());
    ::SendMessageA(target, LVM_SETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&column));
    ::SendMessageA(target, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(ExtractionListBackground()));
}

void DragListView::BeginBatch()
{
    if (batchDepth_++ == 0)
        SetRedraw(false);
}

void DragListView::EndBatch()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    if (!heldRows_.empty()) {
        // The last row added goes on top, as it would have had it been inserted on its own.
        std::vector<Row> added(std::make_move_iterator(heldRows_.rbegin()), std::make_move_iterator(heldRows_.rend()));
        heldRows_.clear();
        InsertRows(0, std::move(added));
        Send(LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(ExtractionListBackground()));
    }
    SetRedraw(true);
    Redraw();
}

bool DragListView::OnReflectedNotify(const NMHDR& header, LRESULT& result)
{
    switch (header.code) {
    case LVN_BEGINDRAG:
        BeginDrag(reinterpret_cast<const NMLISTVIEW&>(header));
        result = 0;
        return true;
    case LVN_INSERTITEM:
        SetImageList(iconCache.Handle(), LVSIL_SMALL);
        result = 0;
        return true;
    case LVN_DELETEALLITEMS:
        // Nothing here looks at single deletions: without a notice per row, emptying a list of
        // thousands costs one message instead of thousands (a property look-up each under Wine).
        result = TRUE;
        return true;
    case LVN_GETDISPINFOA:
    case LVN_GETDISPINFOW:
        AnswerDisplayInfo(header);
        result = 0;
        return true;
    case LVN_ODFINDITEMA: {
        const auto& find = reinterpret_cast<const NMLVFINDITEMA&>(header);
        std::string text = find.lvfi.psz != nullptr ? find.lvfi.psz : "";
        result = FindRow(find.iStart, text, find.lvfi.flags);
        return true;
    }
    case LVN_ODFINDITEMW: {
        const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
        result = FindRow(find.iStart, fw::Narrow(find.lvfi.psz), find.lvfi.flags);
        return true;
    }
    default: return false;
    }
}

LRESULT DragListView::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_MOUSEMOVE: MoveDrag(lParam); break;
    case WM_LBUTTONUP: FinishDrag(lParam); break;
    case WM_RBUTTONDOWN:
        // The list view's own handling of the press tracks the button until it is released and
        // keeps the release to itself (then asks for the context menu), so a drag ends here.
        if (TheApp().GetDragState().isDragging) {
            CancelDrag();
            return 0;
        }
        break;
    case WM_RBUTTONUP:
        // Never passed on: the list's own handling would start its context behaviour.
        CancelDrag();
        return 0;
    case WM_GETDLGCODE: {
        // Enter is one of the list's own keys (its key handler runs on it), so the dialog keys of
        // the message loop must not turn it into the default button; Tab and Escape stay the dialog's.
        LRESULT code = CallOriginal(msg, wParam, lParam);
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN)
            code |= DLGC_WANTMESSAGE;
        return code;
    }
    default: break;
    }
    return CallOriginal(msg, wParam, lParam);
}

// Only a list with an empty dropFolder (the explorer pane) may start a drag.
void DragListView::BeginDrag(const NMLISTVIEW& notice)
{
    if (!dropFolder.empty())
        return;
    DragState& drag = TheApp().GetDragState();
    drag.dragItem = notice.iItem;
    POINT origin {0, 0};
    HIMAGELIST image = reinterpret_cast<HIMAGELIST>(
        Send(LVM_CREATEDRAGIMAGE, static_cast<WPARAM>(notice.iItem), reinterpret_cast<LPARAM>(&origin)));
    drag.dragImage.AttachOwned(image);  // frees the previous drag's image
    ::ImageList_BeginDrag(drag.dragImage, 0, 8, 8);
    POINT point = notice.ptAction;
    ::ClientToScreen(hwnd_, &point);
    ::ImageList_DragEnter(nullptr, point.x, point.y);
    drag.isDragging = true;
    drag.dragSource = hwnd_;
    drag.dropTarget = nullptr;
}

void DragListView::MoveDrag(LPARAM lParam)
{
    DragState& drag = TheApp().GetDragState();
    if (!drag.isDragging)
        return;
    POINT point {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ClientToScreen(hwnd_, &point);
    ::ImageList_DragMove(point.x, point.y);
    ::ImageList_DragShowNolock(FALSE);
    ::ImageList_DragShowNolock(TRUE);
    drag.dropTarget = ::WindowFromPoint(point);
}

void DragListView::AttachIcons()
{
    iconCache.AttachSystemList(kSmallSystemIcons);
    SetImageList(iconCache.Handle(), LVSIL_SMALL);
}

void DragListView::FinishDrag(LPARAM lParam)
{
    AttachIcons();
    DragState& drag = TheApp().GetDragState();
    if (!drag.isDragging)
        return;
    CancelDrag();  // the drag image goes as for a cancel; the drop follows

    POINT point {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ClientToScreen(hwnd_, &point);
    drag.dropPoint = point;
    drag.dropTarget = ::WindowFromPoint(point);

    HWND source = drag.dragSource;
    if (source == nullptr || source == hwnd_ || !IsListView(source))
        return;
    auto* sourceList = dynamic_cast<DragListView*>(fw::Control::FromHandle(source));
    if (sourceList == nullptr || !sourceList->dropFolder.empty() || !acceptsDrops)
        return;
    DropEntries(source);
}

// The whole selection of the source is dropped, visited bottom up so that the rows, each inserted
// at the top, keep the source's order.
void DragListView::DropEntries(HWND source)
{
    DragState& drag = TheApp().GetDragState();
    fw::ListView sourceList;
    sourceList.Attach(source);
    // Rows go into the drop target, which is this list whenever rows are added at all.
    RowBatch batch(*this, &iconCache);
    for (int row = sourceList.GetItemCount() - 1; row >= 0; --row) {
        if ((sourceList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) == 0)
            continue;
        std::string path = fw::WithBackslash(dropFolder) + sourceList.GetItemText(row, 0);
        PathInfo entry(path);
        if (entry.IsFolder()) {
            statusPopup.Create(::GetParent(hwnd_));
            statusPopup.Search(path);
            for (int i = 0, count = statusPopup.ResultCount(); i < count; ++i) {
                std::string found = statusPopup.NextResult();
                AddRow(drag.dropTarget, found, PathInfo(found).Folder(), batch.IconOf(found));
            }
            statusPopup.Destroy();
        } else {
            AddRow(drag.dropTarget, path, entry.Folder(), batch.IconOf(path));
            Send(LVM_SETTEXTCOLOR, 0, 0);
        }
    }
    sourceList.Detach();
}

void DragListView::CancelDrag()
{
    DragState& drag = TheApp().GetDragState();
    if (!drag.isDragging)
        return;
    drag.isDragging = false;
    ::ImageList_DragLeave(::GetDesktopWindow());
    ::ImageList_EndDrag();
}

}  // namespace app
