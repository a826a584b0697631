#include "app/FolderPicker.h"

#include "framework/FileSystem.h"
#include "framework/Owned.h"
#include "framework/Text.h"
#include "resources/kestrova/texts.h"

#include <windows.h>

#include <shlobj.h>

namespace app {

namespace {

// Turns a path into the desktop folder's item list for it; null when the shell cannot parse it.
// `parsed` tells whether the desktop folder could be asked at all.
fw::OwnedItemList ParseRoot(const std::string& root, bool& parsed)
{
    parsed = false;
    fw::ComPtr<IShellFolder> desktop;
    if (FAILED(::SHGetDesktopFolder(desktop.Put())) || !desktop)
        return fw::OwnedItemList();
    parsed = true;
    std::wstring wide = fw::Widen(root);
    fw::OwnedItemList list;
    ULONG eaten = 0;
    if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, &wide[0], &eaten, list.Put(), nullptr)))
        list.Reset();
    return list;
}

}  // namespace

std::string FolderPicker::Browse()
{
    BROWSEINFOA info {};
    fw::OwnedItemList rootList;
    if (!root.empty()) {
        bool asked = false;
        rootList = ParseRoot(root, asked);
        if (asked && !rootList)
            return std::string();
        info.pidlRoot = rootList;
    }

    char display[MAX_PATH] = {};
    info.hwndOwner = nullptr;
    info.pszDisplayName = display;
    info.lpszTitle = title.empty() ? texts::kPickerDefaultTitle : title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    fw::OwnedItemList chosen(::SHBrowseForFolderA(&info));
    if (!chosen)
        return std::string();

    // Only the item list counts: some shells leave the display-name buffer undefined.
    result = fw::PathFromItemList(chosen);
    return result;
}

}  // namespace app
