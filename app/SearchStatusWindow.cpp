#include "app/SearchStatusWindow.h"

#include "framework/PathInfo.h"
#include "framework/FileSystem.h"
#include "resources/kestrova/resource.h"
#include "resources/kestrova/texts.h"

namespace app {

using fw::PathInfo;

SearchStatusWindow::SearchStatusWindow() : fw::ModelessDialog(IDD_SEARCH_STATUS) { }

bool SearchStatusWindow::Create(HWND owner)
{
    headerShown = false;
    foundCount = 0;
    return fw::ModelessDialog::Create(owner);
}

bool SearchStatusWindow::OnInit()
{
    Bind(IDC_SEARCH_STATUS_TEXT, statusLabel);
    return true;
}

// Showing or hiding the popup disables its owner; the end of a search enables it again.
bool SearchStatusWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg == WM_SHOWWINDOW) {
        EnableOwner(false);
        return false;
    }
    return fw::ModelessDialog::OnMessage(msg, wParam, lParam, result);
}

void SearchStatusWindow::EnableOwner(bool enable) const
{
    HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    if (owner != nullptr)
        ::EnableWindow(owner, enable ? TRUE : FALSE);
}

void SearchStatusWindow::Search(const std::string& folder)
{
    if (!headerShown) {
        results.clear();
        foundCount = 0;
        readCursor = -1;
        statusLabel.SetText(texts::kSearching + folder);
        headerShown = true;
    }

    const std::string base = fw::WithBackslash(folder);
    WIN32_FIND_DATAA match;
    HANDLE find = fw::FindFirst(base + "*.*", match);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            // The enumeration already knows each entry's attributes; asking the file system again per
            // entry would double the cost of a search.
            PathInfo entry(base + match.cFileName, match);
            if (entry.IsArchive()) {
                results.push_back(entry.Path());
                ++foundCount;
            }
            if (entry.IsFolder())
                Search(entry.Path());
        } while (fw::FindNext(find, match));
        ::FindClose(find);
    }
    EnableOwner(true);
}

std::string SearchStatusWindow::NextResult()
{
    ++readCursor;
    if (readCursor < 0 || readCursor >= foundCount)
        return std::string();
    return results[static_cast<size_t>(readCursor)];
}

}  // namespace app
