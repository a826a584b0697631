#pragma once
#include "app/SearchStatusWindow.h"
#include "engine/FileIconCache.h"
#include "framework/ListView.h"

#include <string>

namespace app {

// The list-view class of both main-window lists, with the drag-and-drop machinery. Its dropFolder
// decides its role: empty in the explorer list (a drag source), the explorer's folder in the
// extraction list (a drop target).
class DragListView : public fw::ListView {
public:
    // Inserts one extraction-list row at the top of the list view `target`: name, location, icon.
    static void AddRow(HWND target, const std::string& path, const std::string& location, int icon);

    SearchStatusWindow statusPopup;
    engine::FileIconCache iconCache;
    std::string dropFolder;

protected:
    void Bound() override;
    bool OnReflectedNotify(const NMHDR& header, LRESULT& result) override;
    LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void BeginDrag(const NMLISTVIEW& notice);
    void MoveDrag(LPARAM lParam);
    void FinishDrag(LPARAM lParam);
    void CancelDrag();
    void DropEntries(HWND source);
    void AttachIcons();
};

}  // namespace app
