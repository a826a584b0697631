#pragma once
// Drives UNZIP32.DLL exactly as the program does: LoadLibraryA, GetProcAddress of
// Wiz_SingleEntryUnzip, zero-filled option and callback records, one call per run. Records what
// the callbacks saw and whether any of them came from another thread.
#include <windows.h>

#include "unzip32/unzip32.h"

#include <cstring>
#include <string>
#include <vector>

namespace dllrun {

struct Listed {
    unsigned long size;
    unsigned long packed;
    unsigned factor;
    std::string name;
    std::string method;
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
inline void UZ_API Member(unsigned long size, unsigned long packed, unsigned factor, unsigned, unsigned, unsigned,
                          unsigned, unsigned, char, const char* name, const char* method, unsigned long, char encrypted)
{
    Note();
    Current().listed.push_back(Listed{size, packed, factor, name, method, encrypted});
}

struct RunOptions {
    bool list = false;
    bool ignoreCase = false;
    std::vector<std::string> exclude;
    bool test = false;
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
    if (entry == nullptr) {
        ::FreeLibrary(library);
        return -1;
    }
    UnzipOptions options;
    UnzipCallbacks callbacks;
    std::memset(&options, 0, sizeof options);
    std::memset(&callbacks, 0, sizeof callbacks);
    callbacks.print = &Print;
    callbacks.replace = &Replace;
    callbacks.password = &Password;
    callbacks.member = &Member;
    options.listMembers = run.list ? 1 : 0;
    options.testArchive = run.test ? 1 : 0;
    options.keepFolders = 1;
    options.overwriteAll = 1;
    options.caseInsensitive = run.ignoreCase ? 1 : 0;
    options.archive = archive.c_str();
    options.target = target;
    std::vector<char*> names;
    for (const std::string& mask : run.exclude)
        names.push_back(const_cast<char*>(mask.c_str()));
    int result = entry(0, nullptr, static_cast<int>(names.size()), names.empty() ? nullptr : names.data(), &options,
                       &callbacks);
    ::FreeLibrary(library);
    return result;
}

// A host path (from the environment) as the library under Wine sees it: Z: is the host's root.
inline std::string FromHost(std::string path)
{
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
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

inline void WriteWhole(const std::string& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
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
