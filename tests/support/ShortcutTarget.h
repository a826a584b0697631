#pragma once
// Where the program's shortcuts go, and where a shortcut points.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <string>

namespace testsupport {

// The user's profile folder (USERPROFILE), without a trailing backslash.
inline std::string UserProfile()
{
    const char* profile = std::getenv("USERPROFILE");
    return profile != nullptr ? profile : "";
}

// The shortcut to the program on the user's desktop.
inline std::string DesktopShortcut()
{
    return UserProfile() + "\\Desktop\\Kestrova.lnk";
}

// Target of a shell link as the shell resolves it, or empty text.
inline std::string ShortcutTarget(const std::string& linkPath)
{
    HRESULT com = ::CoInitialize(nullptr);
    std::string target;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t wide[MAX_PATH] = {};
            ::MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
            char path[MAX_PATH] = {};
            if (SUCCEEDED(file->Load(wide, STGM_READ)) && SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
                target = path;
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return target;
}

}  // namespace testsupport
