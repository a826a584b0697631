#include "settings/ShellFolders.h"

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
    LPITEMIDLIST list = nullptr;
    if (FAILED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &list)) || list == nullptr)
        return std::string();
    char path[MAX_PATH] = {};
    BOOL converted = ::SHGetPathFromIDListA(list, path);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(::SHGetMalloc(&allocator)) && allocator != nullptr) {
        allocator->Free(list);
        allocator->Release();
    }
    return converted ? std::string(path) : std::string();
}

std::string GetProgramVersion()
{
    return kProgramVersion;
}

}  // namespace settings
