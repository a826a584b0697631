#include "app/DragListView.h"

#include "app/ExtractorApp.h"
#include "app/PathInfo.h"
#include "app/ProcessObjects.h"
#include "resources/kestrova/resource.h"

namespace app {

namespace {

const COLORREF kRowBackground = RGB(223, 223, 223);
const UINT kSmallSystemIcons = 0x4001;

bool IsListView(HWND hwnd)
{
    char name[32] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    return lstrcmpiA(name, WC_LISTVIEWA) == 0;
}

}  // namespace

void DragListView::Bound()
{
    Subclass();
}

void DragListView::AddRow(HWND target, const std::string& path, const std::string& location, int icon)
{
    PathInfo info(path);
    std::string name = info.FileName();
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = 0;
    item.pszText = &name[0];
    item.iImage = icon;
    ::SendMessageA(target, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    LVITEMA column{};
    column.iSubItem = 1;
    column.pszText = const_cast<char*>(location.c_str());
    ::SendMessageA(target, LVM_SETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&column));
    ::SendMessageA(target, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(kRowBackground));
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
    default:
        return false;
    }
}

LRESULT DragListView::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_MOUSEMOVE:
        MoveDrag(lParam);
        break;
    case WM_LBUTTONUP:
        FinishDrag(lParam);
        break;
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
    default:
        break;
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
    POINT origin{0, 0};
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
    POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
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
    drag.isDragging = false;
    ::ImageList_DragLeave(::GetDesktopWindow());
    ::ImageList_EndDrag();

    POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ::ClientToScreen(hwnd_, &point);
    drag.dropPoint = point;
    drag.dropTarget = ::WindowFromPoint(point);

    HWND source = drag.dragSource;
    if (source == nullptr || source == hwnd_ || !IsListView(source))
        return;
    auto* sourceList = dynamic_cast<DragListView*>(fw::Control::FromHandle(source));
    if (sourceList == nullptr || !sourceList->dropFolder.empty())
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
    for (int row = sourceList.GetItemCount() - 1; row >= 0; --row) {
        if ((sourceList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) == 0)
            continue;
        std::string path = dropFolder;
        if (path.empty() || path.back() != '\\')
            path += '\\';
        path += sourceList.GetItemText(row, 0);
        PathInfo entry(path);
        if (entry.IsFolder()) {
            statusPopup.Create(::GetParent(hwnd_));
            statusPopup.Search(path);
            for (int i = 0, count = statusPopup.ResultCount(); i < count; ++i) {
                std::string found = statusPopup.NextResult();
                AddRow(drag.dropTarget, found, PathInfo(found).Folder(), iconCache.GetSystemIconIndex(found));
            }
            statusPopup.Destroy();
        } else {
            AddRow(drag.dropTarget, path, entry.Folder(), iconCache.GetSystemIconIndex(path));
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
