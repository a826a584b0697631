#include "settings/ShellFolders.h"

#include "framework/FileSystem.h"
#include "framework/Owned.h"

#include <shlobj.h>

namespace settings {

namespace {
const char kProgramVersion[] = "1.8.00";
}

std::string GetModulePath(HWND window)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrA(window, GWLP_HINSTANCE));
    return fw::ModuleFileName(instance);
}

std::string GetDesktopFolder()
{
    fw::OwnedItemList list;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, list.Put())) || !list)
        return std::string();
    return fw::PathFromItemList(list);
}

std::string GetProgramVersion()
{
    return kProgramVersion;
}

}  // namespace settings
