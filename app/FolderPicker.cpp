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
    info.hwndOwner = owner;
    info.lpfn = &FolderPicker::OnBrowserEvent;
    info.lParam = reinterpret_cast<LPARAM>(this);
    info.pszDisplayName = display;
    info.lpszTitle = title.empty() ? texts::kPickerDefaultTitle : title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    cancelled_ = false;
    fw::OwnedItemList chosen(::SHBrowseForFolderA(&info));
    browser_ = nullptr;
    if (!chosen || cancelled_)
        return std::string();

    // Only the item list counts: some shells leave the display-name buffer undefined.
    result = fw::PathFromItemList(chosen);
    return result;
}

void FolderPicker::Cancel()
{
    cancelled_ = true;
    if (browser_ != nullptr)
        ::PostMessageA(browser_, WM_COMMAND, IDCANCEL, 0);
}

int CALLBACK FolderPicker::OnBrowserEvent(HWND browser, UINT event, LPARAM, LPARAM self)
{
    if (event == BFFM_INITIALIZED) {
        auto* picker = reinterpret_cast<FolderPicker*>(self);
        picker->browser_ = browser;
        if (picker->cancelled_)
            ::PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    }
    return 0;
}

}  // namespace app
