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

// Calls `read` with the shell link at `linkPath` once it is loaded; false when it cannot be.
template <typename Read> bool ReadShortcut(const std::string& linkPath, Read read)
{
    HRESULT com = ::CoInitialize(nullptr);
    bool loaded = false;
    IShellLinkA* link = nullptr;
    if (SUCCEEDED(::CoCreateInstance(
            CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            wchar_t wide[MAX_PATH] = {};
            ::MultiByteToWideChar(CP_ACP, 0, linkPath.c_str(), -1, wide, MAX_PATH);
            loaded = SUCCEEDED(file->Load(wide, STGM_READ)) && read(*link);
            file->Release();
        }
        link->Release();
    }
    if (SUCCEEDED(com))
        ::CoUninitialize();
    return loaded;
}

// Target of a shell link as the shell resolves it, or empty text.
inline std::string ShortcutTarget(const std::string& linkPath)
{
    char path[MAX_PATH] = {};
    bool read =
        ReadShortcut(linkPath, [&](IShellLinkA& link) { return SUCCEEDED(link.GetPath(path, MAX_PATH, nullptr, 0)); });
    return read ? path : std::string();
}

// The shell link's description (the tip Explorer shows), or empty text.
inline std::string ShortcutDescription(const std::string& linkPath)
{
    char text[1024] = {};  // a tip's limit (INFOTIPSIZE)
    bool read =
        ReadShortcut(linkPath, [&](IShellLinkA& link) { return SUCCEEDED(link.GetDescription(text, sizeof text)); });
    return read ? text : std::string();
}

}  // namespace testsupport
