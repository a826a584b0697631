#pragma once
#include "app/SearchStatusWindow.h"
#include "framework/FileIconCache.h"
#include "framework/ListView.h"

#include <string>
#include <vector>

namespace app {

// The extraction list's grey, or with a high-contrast theme the theme's window colour, so that its
// text (the theme's) stays readable.
COLORREF ExtractionListBackground();

// The list-view class of both main-window lists, with the drag-and-drop machinery. Its dropFolder
// decides its role: empty in the explorer list (a drag source), the explorer's folder in the
// extraction list (a drop target).
class DragListView : public fw::ListView {
public:
    // Inserts one extraction-list row at the top of the list view `target`: name, location, icon.
    static void AddRow(HWND target, const std::string& path, const std::string& location, int icon);

    // Between BeginBatch and EndBatch the list is not painted, and the rows AddRow gives a virtual
    // list are held back and inserted in one pass at the end, in the order that single insertions
    // at the top would give. Batches nest; the outermost EndBatch inserts and paints.
    void BeginBatch();
    void EndBatch();

    // One row of a list whose control asks for its items (LVS_OWNERDATA, the explorer list): a
    // list view under Wine spends a tenth of a millisecond on every item inserted, far more than
    // listing the folder, so such a list keeps its rows here and the control only their count.
    struct Row {
        std::string texts[3];
        int image = -1;
    };

    // True when the control keeps no items of its own (LVS_OWNERDATA).
    bool IsVirtual() const;
    // Inserts `rows` in their order at `index`, ahead of the rows there, as that many single
    // insertions at `index` from the last row down would; selection and focus move with their rows.
    void InsertRows(int index, std::vector<Row> rows);
    // The list-view item operations, on the rows of a virtual list and on the control's own items
    // otherwise.
    int InsertItem(int index, const std::string& text, int image = -1);
    bool SetItemText(int item, int subItem, const std::string& text);
    bool DeleteItem(int item);
    bool DeleteAllItems();

    SearchStatusWindow statusPopup;
    fw::FileIconCache iconCache;
    std::string dropFolder;
    // Cleared while the rows must not change (an extraction run reads them): drops add nothing.
    bool acceptsDrops = true;

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
    void AnswerDisplayInfo(const NMHDR& header);
    int FindRow(int start, const std::string& text, UINT flags) const;

    std::vector<Row> rows_;
    int batchDepth_ = 0;
    std::vector<Row> heldRows_;  // in the order they were added
};

}  // namespace app
