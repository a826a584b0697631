// The extraction list of the main window: adding and removing rows, its context menu and keys,
// and queuing explorer entries (archives, or the archives found in folders).
#include "app/MainWindow.h"

#include "framework/PathInfo.h"
#include "app/ProcessObjects.h"
#include "app/RowBatch.h"
#include "framework/FileIconCache.h"
#include "framework/Application.h"
#include "framework/Dpi.h"
#include "framework/MessageBox.h"
#include "resources/kestrova/resource.h"
#include "resources/kestrova/texts.h"

namespace app {

using fw::PathInfo;

void MainWindow::AddToExtractionList(const std::string& path, const std::string& location, int icon)
{
    DragListView::AddRow(ExtractionList, path, location, icon);
}

void MainWindow::RemoveSelected()
{
    if (ExtractionList.GetItemCount() == 0) {
        fw::ShowMessage(hwnd_, texts::kNothingToRemove, MB_OK);
        return;
    }
    RowBatch batch(ExtractionList);
    for (int row = ExtractionList.GetItemCount() - 1; row >= 0; --row) {
        if (ExtractionList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED)
            ExtractionList.DeleteItem(row);
    }
}

void MainWindow::RemoveAll()
{
    RowBatch batch(ExtractionList);
    ExtractionList.DeleteAllItems();
}

// The menu's commands are returned rather than posted, and acted on here.
void MainWindow::ShowExtractionMenu()
{
    HMENU menu = ::LoadMenuA(fw::Application::Instance()->HInstance(), MAKEINTRESOURCEA(IDR_EXTRACTION_MENU));
    if (menu == nullptr)
        return;
    HMENU popup = ::GetSubMenu(menu, 0);
    POINT point {};
    ::GetCursorPos(&point);
    // During a run the queue must stay as it is, and no other run may start.
    const UINT state = ExtractionList.GetItemCount() > 0 && !IsRunning() ? (MF_BYPOSITION | MF_ENABLED)
                                                                         : (MF_BYPOSITION | MF_GRAYED | MF_DISABLED);
    for (UINT position : {0u, 1u, 3u, 4u})
        ::EnableMenuItem(popup, position, state);
    int command =
        static_cast<int>(::TrackPopupMenu(popup, TPM_NONOTIFY | TPM_RETURNCMD, point.x, point.y, 0, hwnd_, nullptr));
    ::DestroyMenu(menu);
    switch (command) {
    case IDM_EXTRACT_ALL: RunExtraction(true); break;
    case IDM_EXTRACT_SELECTED: RunExtraction(false); break;
    case IDM_REMOVE_ALL: RemoveAll(); break;
    case IDM_REMOVE_SELECTED: RemoveSelected(); break;
    default: break;
    }
}

void MainWindow::OnExtractionKey(WORD key)
{
    if (IsRunning())
        return;
    switch (key) {
    case VK_DELETE:
    case VK_DECIMAL:
    case 'D': RemoveSelected(); break;
    case 'E':
    case VK_RETURN: RunExtraction(true); break;
    default: break;
    }
}

// The Search button: queues the selected explorer entries, searching every selected folder. Rows
// are visited bottom up so that the entries keep the explorer's order at the top of the queue.
void MainWindow::SearchSelected()
{
    if (IsRunning())
        return;  // the queue stays as the run read it (E, Enter and a double click come here too)
    int mark = static_cast<int>(ExplorerList.Send(LVM_GETSELECTIONMARK));
    if (ExplorerList.GetItemText(mark, 0) != texts::kNoDisk) {
        RowBatch batch(ExtractionList, &IconCache());
        for (int row = ExplorerList.GetItemCount() - 1; row >= 0; --row) {
            if (ExplorerList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED)
                AddExplorerEntry(CurrentFolder() + ExplorerList.GetItemText(row, 0), batch);
        }
    }
    ::SetFocus(ExplorerList);
}

void MainWindow::AddExplorerEntry(const std::string& path)
{
    RowBatch batch(ExtractionList, &IconCache());
    AddExplorerEntry(path, batch);
}

void MainWindow::AddExplorerEntry(const std::string& path, RowBatch& batch)
{
    PathInfo entry(path);
    if (entry.IsFolder())
        QueueFolder(path, batch);
    if (entry.IsArchive())
        AddToExtractionList(path, CurrentFolder(), batch.IconOf(path));
}

// Every archive in the folder and its sub-folders, found by the search with its popup.
void MainWindow::QueueFolder(const std::string& path, RowBatch& batch)
{
    SearchStatusWindow& popup = SearchPopup();
    RECT frame = GetWindowRect();
    if (popup.Create(hwnd_)) {
        const auto s = [this](int length) { return fw::ScaleForDpi(length, dpi_); };
        ::SetWindowPos(popup, nullptr, frame.left + s(45), frame.top + s(155), s(344), s(70), SWP_NOZORDER);
        popup.Search(path);
        for (int i = 0, count = popup.ResultCount(); i < count; ++i) {
            std::string found = popup.NextResult();
            AddToExtractionList(found, PathInfo(found).Folder(), batch.IconOf(found));
        }
        popup.Destroy();
    }
}

// Paths handed over from outside (the command line, a drop from the shell): archives are queued,
// folders searched; the rest, and `skipped`, are named in one message. Visited from the last so
// that the first path ends up in the top row and is extracted first.
void MainWindow::QueuePaths(const std::vector<std::string>& paths, std::vector<std::string> skipped)
{
    if (IsRunning())
        return;  // the queue stays as the run read it
    {
        RowBatch batch(ExtractionList, &IconCache());
        for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
            std::string path = *it;
            while (path.size() > 3 && (path.back() == '\\' || path.back() == '/'))
                path.pop_back();
            const DWORD attributes = ::GetFileAttributesA(path.c_str());
            PathInfo entry(path);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                QueueFolder(path, batch);
            else if (attributes != INVALID_FILE_ATTRIBUTES && entry.IsArchive())
                AddToExtractionList(path, entry.Folder(), batch.IconOf(path));
            else
                skipped.insert(skipped.begin(), *it);
        }
    }
    if (skipped.empty())
        return;
    if (unattended_) {
        notQueued_.insert(notQueued_.end(), skipped.begin(), skipped.end());
        return;
    }
    std::string text = texts::kNotQueued;
    for (const std::string& path : skipped)
        text += "\n" + path;
    fw::ShowMessage(hwnd_, text, MB_OK);
}

}  // namespace app
