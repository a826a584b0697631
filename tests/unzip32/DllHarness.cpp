#include "tests/unzip32/DllHarness.h"

#include <zlib.h>

#include <algorithm>

namespace dlltest {

namespace {

Seen* g_seen = nullptr;
DWORD g_caller = 0;

void CheckThread()
{
    if (::GetCurrentThreadId() != g_caller)
        g_seen->offThread = true;
}

int WINAPI Print(const char* text, unsigned long length)
{
    CheckThread();
    g_seen->lines.emplace_back(text, length);
    return static_cast<int>(length);
}

int WINAPI Replace(const char*)
{
    return 1;
}

int WINAPI Password(char*, int, const char*, const char*)
{
    return 1;
}

void WINAPI Member(unsigned long size, unsigned long packedSize, unsigned factor, unsigned month, unsigned day,
                   unsigned year, unsigned hour, unsigned minute, char marker, const char* name, const char* method,
                   unsigned long crc, char encrypted)
{
    CheckThread();
    g_seen->members.push_back(
        {size, packedSize, factor, month, day, year, hour, minute, marker, name, method, crc, encrypted});
}

}  // namespace

int RunLibrary(const RunArgs& args, Seen& seen)
{
    HMODULE library = ::LoadLibraryA("UNZIP32.DLL");
    if (library == nullptr)
        return -1;
    auto entry = reinterpret_cast<WizSingleEntryUnzipFunction>(
        reinterpret_cast<void*>(::GetProcAddress(library, "Wiz_SingleEntryUnzip")));
    if (entry == nullptr) {
        ::FreeLibrary(library);
        return -1;
    }
    UnzipOptions options{};
    UnzipCallbacks callbacks{};
    options.listMembers = args.list ? 1 : 0;
    options.keepFolders = 1;
    options.overwriteAll = 1;
    options.caseInsensitive = args.caseInsensitive ? 1 : 0;
    options.archive = args.archive.c_str();
    options.target = args.target;
    callbacks.print = &Print;
    callbacks.replace = &Replace;
    callbacks.password = &Password;
    callbacks.member = &Member;
    std::vector<char*> names;
    for (const std::string& mask : args.exclude)
        names.push_back(const_cast<char*>(mask.c_str()));
    seen = Seen();
    g_seen = &seen;
    g_caller = ::GetCurrentThreadId();
    int result = entry(0, nullptr, static_cast<int>(names.size()), names.empty() ? nullptr : names.data(), &options,
                       &callbacks);
    g_seen = nullptr;
    ::FreeLibrary(library);
    return result;
}

std::string ReadAll(const std::string& path)
{
    std::string bytes;
    std::wstring wide(static_cast<size_t>(::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    ::CloseHandle(file);
    return bytes;
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

static void WalkInto(const std::wstring& root, const std::wstring& relative, std::vector<std::string>& out)
{
    WIN32_FIND_DATAW match;
    HANDLE find = ::FindFirstFileW((root + relative + L"*").c_str(), &match);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = match.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring child = relative + name;
        const bool folder = (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        std::wstring shown = child + (folder ? L"\\" : L"");
        int length = ::WideCharToMultiByte(CP_UTF8, 0, shown.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(static_cast<size_t>(length), '\0');
        ::WideCharToMultiByte(CP_UTF8, 0, shown.c_str(), -1, &utf8[0], length, nullptr, nullptr);
        utf8.resize(static_cast<size_t>(length - 1));
        out.push_back(utf8);
        if (folder && (match.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            WalkInto(root, child + L"\\", out);
    } while (::FindNextFileW(find, &match));
    ::FindClose(find);
}

std::vector<std::string> Walk(const std::string& root)
{
    std::vector<std::string> out;
    std::wstring wide(root.begin(), root.end());
    if (wide.back() != L'\\')
        wide += L'\\';
    WalkInto(wide, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

std::string TempFolder(const std::string& tag)
{
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    static int counter = 0;
    std::string path = std::string(temp) + "kvdll" + std::to_string(::GetCurrentProcessId()) + "_" + tag +
                       std::to_string(++counter);
    RemoveTree(path);
    ::CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

static void RemoveTreeW(const std::wstring& folder)
{
    WIN32_FIND_DATAW match;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &match);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = match.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = folder + L"\\" + name;
            ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTreeW(child);
            else
                ::DeleteFileW(child.c_str());
        } while (::FindNextFileW(find, &match));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(folder.c_str());
}

void RemoveTree(const std::string& folder)
{
    RemoveTreeW(std::wstring(folder.begin(), folder.end()));
}

uint32_t FileCrc(const std::string& path, uint64_t& size)
{
    std::string bytes = ReadAll(path);
    size = bytes.size();
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

}  // namespace dlltest
