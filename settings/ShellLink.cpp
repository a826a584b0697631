#include "settings/ShellLink.h"

#include "framework/Owned.h"
#include "framework/Text.h"

#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>

namespace settings {

const char kDesktopSuffix[] = "\\Desktop\\";
const char kQuickLaunchSuffix[] = "\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch\\";
const char kShortcutName[] = "Kestrova";

namespace {

const char kLinkExtension[] = ".lnk";

std::string UserProfile()
{
    const char* profile = std::getenv("USERPROFILE");
    return profile != nullptr ? profile : "";
}

std::string LowerCased(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

HRESULT ShellLink::CreateShellLink(const std::string& target, const std::string& name, const std::string& suffix) const
{
    std::string linkPath = UserProfile() + suffix + name;
    // The thread may already be initialised (S_FALSE) or in another apartment; the link object
    // works in either, so the answer is not examined.
    ::CoInitialize(nullptr);

    fw::ComPtr<IShellLinkA> link;
    HRESULT hr = ::CoCreateInstance(
        CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, reinterpret_cast<void**>(link.Put()));
    if (FAILED(hr))
        return hr;
    link->SetPath(target.c_str());
    link->SetArguments("");

    fw::ComPtr<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Put()));
    if (FAILED(hr))
        return hr;
    if (LowerCased(linkPath).find(kLinkExtension) == std::string::npos)
        linkPath += kLinkExtension;
    return file->Save(fw::Widen(linkPath).c_str(), TRUE);
}

std::string ShellLink::ShortcutPath(const std::string& suffix)
{
    return UserProfile() + suffix + kShortcutName + kLinkExtension;
}

}  // namespace settings
