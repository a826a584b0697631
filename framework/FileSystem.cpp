#include "framework/FileSystem.h"

#include "framework/Text.h"

#include <shlobj.h>

#include <cstring>
#include <vector>

namespace fw {

namespace {

// CreateDirectory refuses a plain path this long: there must be room for an 8.3 name below it.
const size_t kPlainPathLimit = MAX_PATH - 12;

// Copies a wide match into the ANSI record; false when the entry has no name the code page holds.
bool ToAnsi(const WIN32_FIND_DATAW& wide, WIN32_FIND_DATAA& match)
{
    std::string name;
    if (!NarrowExact(wide.cFileName, name) || name.size() >= sizeof match.cFileName)
        name.clear();
    std::string shortName;
    NarrowExact(wide.cAlternateFileName, shortName);  // empty when it does not convert
    if (name.empty())
        name = shortName;
    if (name.empty())
        return false;
    std::memset(&match, 0, sizeof match);
    match.dwFileAttributes = wide.dwFileAttributes;
    match.ftCreationTime = wide.ftCreationTime;
    match.ftLastAccessTime = wide.ftLastAccessTime;
    match.ftLastWriteTime = wide.ftLastWriteTime;
    match.nFileSizeHigh = wide.nFileSizeHigh;
    match.nFileSizeLow = wide.nFileSizeLow;
    match.dwReserved0 = wide.dwReserved0;
    match.dwReserved1 = wide.dwReserved1;
    std::memcpy(match.cFileName, name.c_str(), name.size() + 1);
    if (shortName.size() < sizeof match.cAlternateFileName)
        std::memcpy(match.cAlternateFileName, shortName.c_str(), shortName.size() + 1);
    return true;
}

}  // namespace

std::wstring WidePath(const std::string& path)
{
    std::wstring wide = Widen(path);
    if (wide.size() < kPlainPathLimit || wide.compare(0, 4, L"\\\\?\\") == 0)
        return wide;
    // The \\?\ form is taken literally: slashes, doubled backslashes and "." or ".." parts must go
    // first, which making the path absolute does.
    DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::vector<wchar_t> full(size);
    DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return wide;
    std::wstring absolute(full.data(), length);
    if (absolute.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    if (absolute.size() >= 3 && absolute[1] == L':' && absolute[2] == L'\\')
        return L"\\\\?\\" + absolute;
    return wide;
}

HANDLE FindFirst(const std::string& pattern, WIN32_FIND_DATAA& match)
{
    WIN32_FIND_DATAW wide {};
    HANDLE find = ::FindFirstFileW(WidePath(pattern).c_str(), &wide);
    if (find == INVALID_HANDLE_VALUE)
        return find;
    if (ToAnsi(wide, match) || FindNext(find, match))
        return find;
    ::FindClose(find);
    return INVALID_HANDLE_VALUE;
}

bool FindNext(HANDLE find, WIN32_FIND_DATAA& match)
{
    WIN32_FIND_DATAW wide {};
    while (::FindNextFileW(find, &wide)) {
        if (ToAnsi(wide, match))
            return true;
    }
    return false;
}

DWORD FileAttributes(const std::string& path)
{
    return ::GetFileAttributesW(WidePath(path).c_str());
}

bool CreateFolder(const std::string& path)
{
    return ::CreateDirectoryW(WidePath(path).c_str(), nullptr) != FALSE;
}

std::string ModuleFileName(HMODULE module)
{
    for (DWORD size = MAX_PATH;; size *= 2) {
        std::vector<wchar_t> buffer(size);
        DWORD length = ::GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0)
            return std::string();
        // A path that fills the buffer may have been cut.
        if (length < size - 1 || size >= 32768)
            return Narrow(std::wstring(buffer.data(), length));
    }
}

std::string PathFromItemList(PCIDLIST_ABSOLUTE list)
{
    if (list == nullptr)
        return std::string();
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetPathFromIDListW(list, path))
        return std::string();
    return Narrow(path);
}

}  // namespace fw
