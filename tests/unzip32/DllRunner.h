#pragma once
// Drives UNZIP32.DLL exactly as the program does: LoadLibraryA, GetProcAddress of
// Wiz_SingleEntryUnzip (or Wiz_SingleEntryUnzipNames, Wiz_SingleEntryUnzipEx), zero-filled option and callback records,
// one call per run. Records what the callbacks saw and whether any of them came from another
// thread. Also the file helpers that prove where the output went; their paths are UTF-8, for the
// names the code page cannot hold.
#include <windows.h>

#include "tests/support/ZipBuilder.h"
#include "unzip32/unzip32.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace dllrun {

struct Listed {
    unsigned long size;
    unsigned long packed;
    unsigned factor, month, day, year, hour, minute;
    std::string name;
    std::string method;
    unsigned long crc;
    char encrypted;
};

struct Seen {
    std::vector<std::string> printed;
    std::vector<Listed> listed;
    DWORD thread = 0;
    bool offThread = false;
};

inline Seen& Current()
{
    static Seen seen;
    return seen;
}

inline void Note()
{
    if (::GetCurrentThreadId() != Current().thread)
        Current().offThread = true;
}

inline int UZ_API Print(const char* text, unsigned long length)
{
    Note();
    Current().printed.push_back(std::string(text, length));
    return static_cast<int>(length);
}
inline int UZ_API Replace(const char*)
{
    Note();
    return 1;
}
inline int UZ_API Password(char*, int, const char*, const char*)
{
    Note();
    return 1;
}
inline void UZ_API Member(unsigned long size, unsigned long packed, unsigned factor, unsigned month, unsigned day,
    unsigned year, unsigned hour, unsigned minute, char, const char* name, const char* method, unsigned long crc,
    char encrypted)
{
    Note();
    Current().listed.push_back(
        Listed {size, packed, factor, month, day, year, hour, minute, name, method, crc, encrypted});
}

struct RunOptions {
    bool list = false;
    bool ignoreCase = false;
    std::vector<std::string> exclude;
    bool test = false;
    UnzipPasswordCallback password = &Password;  // null: no password callback
    UnzipServiceCallback service = nullptr;
    bool choosePage = false;  // through Wiz_SingleEntryUnzipNames with namePage
    unsigned namePage = UZ_NAMES_AUTOMATIC;
    int overwrite = 1;  // overwriteAll: 1 overwrite, 0 keep the existing file, 2 keep both
    bool ex = false;  // through Wiz_SingleEntryUnzipEx with exOptions (may be null)
    const UnzipRunOptions* exOptions = nullptr;
};

// One run of the library; its result, or -1 when the library or its entry point is missing.
inline int RunLibrary(const std::string& archive, const char* target, const RunOptions& run = RunOptions())
{
    Current() = Seen();
    Current().thread = ::GetCurrentThreadId();
    HMODULE library = ::LoadLibraryA("UNZIP32.DLL");
    if (library == nullptr)
        return -1;
    auto entry = reinterpret_cast<WizSingleEntryUnzipFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "Wiz_SingleEntryUnzip")));
    auto withPage = reinterpret_cast<WizSingleEntryUnzipNamesFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "Wiz_SingleEntryUnzipNames")));
    auto withRun = reinterpret_cast<WizSingleEntryUnzipExFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "Wiz_SingleEntryUnzipEx")));
    if (entry == nullptr || (run.choosePage && withPage == nullptr) || (run.ex && withRun == nullptr)) {
        ::FreeLibrary(library);
        return -1;
    }
    UnzipOptions options;
    UnzipCallbacks callbacks;
    std::memset(&options, 0, sizeof options);
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.print = &Print;
    callbacks.replace = &Replace;
    callbacks.password = run.password;
    callbacks.service = run.service;
    callbacks.member = &Member;
    options.listMembers = run.list ? 1 : 0;
    options.testArchive = run.test ? 1 : 0;
    options.keepFolders = 1;
    options.overwriteAll = run.overwrite;
    options.caseInsensitive = run.ignoreCase ? 1 : 0;
    options.archive = archive.c_str();
    options.target = target;
    std::vector<char*> names;
    for (const std::string& mask : run.exclude)
        names.push_back(const_cast<char*>(mask.c_str()));
    char** exclude = names.empty() ? nullptr : names.data();
    const int count = static_cast<int>(names.size());
    int result = run.ex           ? withRun(0, nullptr, count, exclude, &options, &callbacks, run.exOptions)
        : run.choosePage ? withPage(0, nullptr, count, exclude, &options, &callbacks, run.namePage)
                         : entry(0, nullptr, count, exclude, &options, &callbacks);
    ::FreeLibrary(library);
    return result;
}

inline std::wstring Wide(const std::string& utf8)
{
    int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], length);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

inline bool ReadWhole(const std::wstring& path, std::string& bytes)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes.clear();
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    ::CloseHandle(file);
    return true;
}

// The whole file; empty when it cannot be read.
inline std::string Contents(const std::string& path)
{
    std::string bytes;
    ReadWhole(Wide(path), bytes);
    return bytes;
}

inline std::string Utf8(const std::wstring& wide)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(std::strlen(utf8.c_str()));
    return utf8;
}

inline void WalkInto(const std::wstring& root, const std::wstring& relative, std::vector<std::string>& out)
{
    WIN32_FIND_DATAW match;
    HANDLE find = ::FindFirstFileW((root + relative + L"*").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = match.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const bool folder = (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.push_back(Utf8(relative + name + (folder ? L"\\" : L"")));
        if (folder && (match.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            WalkInto(root, relative + name + L"\\", out);
    } while (::FindNextFileW(find, &match));
    ::FindClose(find);
}

// Every file and folder under `root`, relative and sorted, with '\' separators (folders end in '\').
inline std::vector<std::string> Walk(const std::string& root)
{
    std::vector<std::string> out;
    WalkInto(Wide(root.back() == '\\' ? root : root + "\\"), L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

// Size and CRC-32 of every file under `root`.
inline std::multiset<std::pair<uint64_t, uint32_t>> FileSums(const std::string& root)
{
    std::multiset<std::pair<uint64_t, uint32_t>> sums;
    for (const std::string& relative : Walk(root)) {
        if (relative.back() == '\\')
            continue;
        const std::string bytes = Contents(root + "\\" + relative);
        sums.insert({bytes.size(), ziptest::Crc(bytes)});
    }
    return sums;
}

// Entries of a folder other than "." and "..".
inline int CountEntries(const std::string& folder)
{
    WIN32_FIND_DATAA match;
    HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    int count = 0;
    do {
        std::string name = match.cFileName;
        if (name != "." && name != "..")
            ++count;
    } while (::FindNextFileA(find, &match));
    ::FindClose(find);
    return count;
}

}  // namespace dllrun
