#include "framework/FileIconCache.h"

#include "framework/PathInfo.h"
#include "framework/Text.h"

#include <commctrl.h>

#include <climits>
#include <cstdlib>

namespace fw {

namespace {

const char kFallbackIconFile[] = "shell32.dll";

// One large and one small icon from the file; both null unless the file gave both.
bool ExtractPair(const std::string& file, int index, HICON& largeIcon, HICON& smallIcon)
{
    // For a file that cannot be opened, or an index it does not have, the answer is 0 or
    // 0xFFFFFFFF and the handles may hold garbage (Wine writes some): they are only trusted, and
    // only released, after a positive count.
    largeIcon = nullptr;
    smallIcon = nullptr;
    UINT extracted = ::ExtractIconExA(file.c_str(), index, &largeIcon, &smallIcon, 1);
    if (extracted == 0 || extracted == UINT_MAX) {
        largeIcon = nullptr;
        smallIcon = nullptr;
        return false;
    }
    if (largeIcon != nullptr && smallIcon != nullptr)
        return true;
    if (largeIcon != nullptr)
        ::DestroyIcon(largeIcon);
    if (smallIcon != nullptr)
        ::DestroyIcon(smallIcon);
    largeIcon = nullptr;
    smallIcon = nullptr;
    return false;
}

}  // namespace

FileIconCache::FileIconCache()
{
    AttachSystemList(kSmallIcons);
}

FileIconCache::~FileIconCache()
{
    Detach();
    systemList_.Detach();
}

// With the system-icon-index flag, the query for the empty path answers the system list itself.
bool FileIconCache::AttachSystemList(UINT newFlags)
{
    flags_ = newFlags;
    Detach();
    systemList_.Detach();
    HIMAGELIST list = reinterpret_cast<HIMAGELIST>(::SHGetFileInfoA("", 0, &fileInfo_, sizeof fileInfo_, flags_));
    systemList_.AttachBorrowed(list);
    AttachBorrowed(systemList_.Handle());
    return Handle() != nullptr;
}

int FileIconCache::GetSystemIconIndex(const std::string& path)
{
    AttachSystemList(flags_);
    // No file attributes are passed, so the shell looks at the real path.
    ::SHGetFileInfoA(path.c_str(), 0, &fileInfo_, sizeof fileInfo_, flags_);
    return fileInfo_.iIcon;
}

int FileIconCache::AddIconForExtension(const std::string& extension)
{
    HICON icon = LoadIconForExtension(extension);
    // The list keeps a copy of the icon's bitmaps; a null icon or list gives -1.
    int index = AddIcon(icon);
    if (icon != nullptr)
        ::DestroyIcon(icon);
    return index;
}

std::string FileIconCache::LookupExtension(const std::string& extension)
{
    std::string text = fw::Trimmed(extension);
    std::string stripped;
    for (char c : text) {
        if (c != '*')
            stripped += c;
    }
    // Longer texts count as file names: their lower-cased extension, or nothing without a dot.
    if (stripped.size() > 3)
        stripped = PathInfo(stripped).Extension();
    if (stripped.empty() || stripped[0] != '.')
        stripped.insert(stripped.begin(), '.');
    return stripped;
}

HICON FileIconCache::LoadIconForExtension(const std::string& extension)
{
    std::string className = ReadClassesRootDefault(LookupExtension(extension));
    std::string location = ReadClassesRootDefault(className + "\\DefaultIcon");

    // "file,index": the index after the last comma, read like atoi; without a comma the whole text
    // is read, which gives 0 for an ordinary path. Environment references are not expanded.
    std::string file = location;
    int index = 0;
    size_t comma = location.find_last_of(',');
    if (comma != std::string::npos) {
        file = location.substr(0, comma);
        index = std::atoi(location.c_str() + comma + 1);
    } else {
        index = std::atoi(location.c_str());
    }
    if (file.empty()) {
        file = kFallbackIconFile;
        index = 0;
    }

    HICON largeIcon = nullptr;
    HICON smallIcon = nullptr;
    if (!ExtractPair(file, index, largeIcon, smallIcon))
        ExtractPair(kFallbackIconFile, 0, largeIcon, smallIcon);
    if (flags_ & SHGFI_SMALLICON) {
        if (largeIcon != nullptr)
            ::DestroyIcon(largeIcon);
        return smallIcon;
    }
    if (smallIcon != nullptr)
        ::DestroyIcon(smallIcon);
    return largeIcon;
}

// Read access only: asking for write rights as well would fail for a user who may not change
// the machine-wide file-type registrations, and every icon would fall back.
std::string FileIconCache::ReadClassesRootDefault(const std::string& keyPath)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::string();
    // An icon file's path can take more than MAX_PATH bytes in a multibyte code page: ask the size.
    DWORD size = 0;
    DWORD type = REG_NONE;
    LONG status = ::RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size);
    std::string buffer(size + 1, '\0');
    if (status == ERROR_SUCCESS)
        status = ::RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::string();
    buffer.resize(size < buffer.size() ? size : buffer.size() - 1);
    return fw::Trimmed(buffer.c_str());
}

}  // namespace fw
