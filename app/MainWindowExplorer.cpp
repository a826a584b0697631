// The explorer pane of the main window: navigation, the listing passes, the drive box, and the
// pane's keys (delete to the Recycle Bin, queue the selection).
#include "app/MainWindow.h"

#include "app/FolderFinder.h"
#include "framework/PathInfo.h"
#include "app/ProcessObjects.h"
#include "app/ShellFileOperation.h"
#include "framework/FileIconCache.h"
#include "resources/kestrova/resource.h"
#include "settings/SettingsDialog.h"
#include "settings/ShellFolders.h"
#include "resources/kestrova/texts.h"

#include <shellapi.h>

#include <map>
#include <vector>

namespace app {

using fw::PathInfo;

void MainWindow::NavigateTo(const std::string& folder)
{
    ExtractionList.dropFolder = folder;
    // Both passes look at the same matches: the folder is enumerated once for the two.
    std::vector<WIN32_FIND_DATAA> matches;
    Enumerate(fw::WithBackslash(folder), matches);
    // The list is painted once, when both passes are done.
    ExplorerList.SetRedraw(false);
    ListFolderPass(folder, ListKind::Archives, true, &matches);
    ListFolderPass(folder, ListKind::Folders, false, &matches);
    ExplorerList.SetRedraw(true);
    ExplorerList.Redraw();
}

// Every match of folder*.*, hidden and system ones included, in the order the file system gives.
void MainWindow::Enumerate(const std::string& folder, std::vector<WIN32_FIND_DATAA>& matches)
{
    FolderFinder& finder = TheFolderFinder();
    WIN32_FIND_DATAA match;
    if (finder.FindFirst(folder + "*.*", match)) {
        do {
            matches.push_back(match);
        } while (finder.FindNext(match));
        finder.Close();
    }
}

// One pass over the folder: its archives or its sub-folders, inserted at the top in the order the
// file system reports them. The enumeration's own data gives each entry's kind, size and date, so
// the pass asks the file system nothing more per entry; `matches`, when given, is that enumeration.
void MainWindow::ListFolderPass(
    const std::string& folderText, ListKind kind, bool clear, const std::vector<WIN32_FIND_DATAA>* matches)
{
    const std::string folder = fw::WithBackslash(folderText);
    if (kind == ListKind::Folders)
        upButton.SetBitmap(PathInfo(folder).IsRoot() ? rootUpBitmap_ : upBitmap_);
    CurrentFolder() = folder;
    Settings().lastFolder = folder;

    if (clear)
        ExplorerList.DeleteAllItems();
    pathLabel.SetText(" " + folder);

    std::vector<WIN32_FIND_DATAA> own;
    if (matches == nullptr) {
        Enumerate(folder, own);
        matches = &own;
    }

    // The shell's icon query costs milliseconds per path (far more than listing the folder), and
    // archives and folders show the icon of their type: ask once per type and pass.
    fw::FileIconCache& icons = IconCache();
    icons.AttachSystemList(fw::FileIconCache::kSmallIcons);
    std::map<std::string, int> iconOfType;
    std::vector<DragListView::Row> rows;
    for (const WIN32_FIND_DATAA& match : *matches) {
        PathInfo entry(folder + match.cFileName, match);
        bool isFolder = entry.IsFolder();
        if (kind == ListKind::Archives ? !entry.IsArchive() : !isFolder)
            continue;
        const std::string type = isFolder ? std::string("\folder") : entry.Extension();
        auto known = iconOfType.find(type);
        if (known == iconOfType.end()) {
            SHFILEINFOA info {};
            ::SHGetFileInfoA(isFolder ? "folder" : ("file" + type).c_str(),
                isFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES);
            known = iconOfType.emplace(type, info.iIcon).first;
        }
        DragListView::Row row;
        row.texts[0] = entry.FileName();
        row.texts[1] = entry.SizeText();
        row.texts[2] = entry.DateText(0, nullptr);
        row.image = known->second;
        rows.push_back(std::move(row));
    }
    ExplorerList.InsertRows(0, std::move(rows));
    countLabel.SetText(std::to_string(ExplorerList.GetItemCount()) + texts::kObjectCount);
    RECT outer = GetWindowRect();
    PlaceCountLabel((outer.right - outer.left) - 60);
}

void MainWindow::OnUp()
{
    const std::string& current = CurrentFolder();
    if (PathInfo(current).IsRoot() || current.size() < 3)
        return;
    std::string trimmed = current.substr(0, current.size() - 1);
    size_t separator = trimmed.find_last_of(current[2]);
    if (separator == std::string::npos)
        return;
    NavigateTo(trimmed.substr(0, separator + 1));
}

void MainWindow::OnRefresh()
{
    NavigateTo(CurrentFolder());
}

void MainWindow::OnDesktop()
{
    NavigateTo(settings::GetDesktopFolder());
    ::SetFocus(optionsButton);
}

void MainWindow::OnExplorerDoubleClick()
{
    int mark = static_cast<int>(ExplorerList.Send(LVM_GETSELECTIONMARK));
    std::string text = ExplorerList.GetItemText(mark, 0);
    if (text == texts::kNoDisk)
        return;
    PathInfo entry(CurrentFolder() + text);
    if (entry.IsFolder())
        NavigateTo(entry.Path());
    if (entry.IsArchive())
        SearchSelected();
}

void MainWindow::OnDriveChanged()
{
    int selected = driveBox.GetCurSel();
    if (selected < 0)
        return;
    std::string root = driveBox.GetItemText(selected);
    NavigateTo(root);
    if (ExplorerList.GetItemCount() == 0)
        ExplorerList.InsertItem(0, texts::kNoDisk, IconCache().GetSystemIconIndex(root));
}

// Drives are inserted at the top one by one, so the box lists them from the highest letter down.
void MainWindow::FillDriveBox()
{
    DWORD drives = ::GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter) {
        if ((drives & (1u << letter)) == 0)
            continue;
        std::string root = std::string(1, static_cast<char>('A' + letter)) + ":\\";
        int icon = IconCache().GetSystemIconIndex(root);
        driveBox.InsertItem(0, root, icon, icon);
    }
}

void MainWindow::SelectStartDrive(const std::string& startFolder)
{
    std::string prefix = startFolder.substr(0, 3);
    for (int i = 0, count = driveBox.GetCount(); i < count; ++i) {
        if (driveBox.GetItemText(i) == prefix) {
            driveBox.SetCurSel(i);
            return;
        }
    }
}

void MainWindow::OnExplorerKey(WORD key)
{
    switch (key) {
    case VK_DELETE:
    case VK_DECIMAL:
    case 'D': DeleteExplorerSelection(); break;
    case 'E':
    case VK_RETURN: SearchSelected(); break;
    default: break;
    }
}

// The shell confirms, shows progress and reports errors itself; the rows go unless the user aborted.
void MainWindow::DeleteExplorerSelection()
{
    ShellFileOperation operation;
    operation.SetOwner(hwnd_);
    operation.SetFlags(FOF_ALLOWUNDO | FOF_MULTIDESTFILES);
    bool any = false;
    for (int row = ExplorerList.GetItemCount() - 1; row >= 0; --row) {
        if (ExplorerList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) {
            operation.AddSource(CurrentFolder() + ExplorerList.GetItemText(row, 0));
            any = true;
        }
    }
    if (!any)
        return;
    operation.DeleteFiles();
    if (operation.WasAborted())
        return;
    for (int row = ExplorerList.GetItemCount() - 1; row >= 0; --row) {
        if (ExplorerList.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED)
            ExplorerList.DeleteItem(row);
    }
}

}  // namespace app
