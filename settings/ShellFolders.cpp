#include "settings/ShellFolders.h"

#include "framework/Owned.h"

#include <shlobj.h>

namespace settings {

namespace {
const char kProgramVersion[] = "1.8.00";
}

std::string GetModulePath(HWND window)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(window, GWLP_HINSTANCE));
    char path[256] = {};
    DWORD length = ::GetModuleFileNameA(instance, path, sizeof path);
    // A longer path is cut; older systems leave the buffer unterminated then.
    path[sizeof path - 1] = '\0';
    return length != 0 ? std::string(path) : std::string();
}

std::string GetDesktopFolder()
{
    fw::OwnedItemList list;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, list.Put())) || !list)
        return std::string();
    char path[MAX_PATH] = {};
    return ::SHGetPathFromIDListA(list, path) ? std::string(path) : std::string();
}

std::string GetProgramVersion()
{
    return kProgramVersion;
}

}  // namespace settings
