#include "app/FolderPicker.h"

#include <windows.h>

#include <shlobj.h>

namespace app {

namespace {

const char kDefaultTitle[] = "Open";

// Turns a path into the desktop folder's item list for it; null when the shell cannot parse it.
// `parsed` tells whether the desktop folder could be asked at all.
LPITEMIDLIST ParseRoot(const std::string& root, bool& parsed)
{
    parsed = false;
    IShellFolder* desktop = nullptr;
    if (FAILED(::SHGetDesktopFolder(&desktop)) || desktop == nullptr)
        return nullptr;
    parsed = true;
    wchar_t wide[MAX_PATH] = {};
    ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, root.c_str(), -1, wide, MAX_PATH);
    wide[MAX_PATH - 1] = L'\0';
    LPITEMIDLIST list = nullptr;
    ULONG eaten = 0;
    HRESULT hr = desktop->ParseDisplayName(nullptr, nullptr, wide, &eaten, &list, nullptr);
    desktop->Release();
    if (FAILED(hr)) {
        ::CoTaskMemFree(list);
        return nullptr;
    }
    return list;
}

}  // namespace

std::string FolderPicker::Browse()
{
    IMalloc* allocator = nullptr;
    if (FAILED(::SHGetMalloc(&allocator)) || allocator == nullptr)
        return std::string();

    BROWSEINFOA info{};
    LPITEMIDLIST rootList = nullptr;
    if (!root.empty()) {
        bool asked = false;
        rootList = ParseRoot(root, asked);
        if (asked && rootList == nullptr) {
            allocator->Release();
            return std::string();
        }
        info.pidlRoot = rootList;
    }

    char display[MAX_PATH] = {};
    info.hwndOwner = nullptr;
    info.pszDisplayName = display;
    info.lpszTitle = title.empty() ? kDefaultTitle : title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    LPITEMIDLIST chosen = ::SHBrowseForFolderA(&info);
    if (rootList != nullptr)
        allocator->Free(rootList);
    if (chosen == nullptr) {
        allocator->Release();
        return std::string();
    }

    // Only the item list counts: some shells leave the display-name buffer undefined.
    char path[MAX_PATH] = {};
    BOOL converted = ::SHGetPathFromIDListA(chosen, path);
    allocator->Free(chosen);
    allocator->Release();
    if (!converted) {
        result.clear();
        return std::string();
    }
    result = path;
    return result;
}

}  // namespace app
