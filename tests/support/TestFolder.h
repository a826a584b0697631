#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// Names in Latin accents, Cyrillic, Greek, Japanese and with an emoji (UTF-8): a test program that
// uses them runs in the UTF-8 code page (its manifest says so).
inline const std::vector<std::string>& UnicodeNames()
{
    static const std::vector<std::string> names = {"Café_Ångström", "Фото", "Φωτογραφίες", "写真", "emoji_😀"};
    return names;
}

// A fresh folder under the temporary folder, removed with everything in it at the end of the test.
// Every operation goes through the wide functions, so that paths longer than MAX_PATH work too.
class TestFolder {
public:
    TestFolder()
    {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        static int counter = 0;
        path_ =
            std::string(temp) + "kvtest" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    ~TestFolder() { Remove(path_); }

    // The folder, without a trailing backslash.
    const std::string& Path() const { return path_; }
    std::string Child(const std::string& relative) const { return path_ + "\\" + relative; }
    void MakeFolder(const std::string& relative) const { ::CreateDirectoryW(Wide(Child(relative)).c_str(), nullptr); }
    void WriteFile(const std::string& relative, const std::string& bytes) const
    {
        HANDLE file =
            ::CreateFileW(Wide(Child(relative)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    bool Exists(const std::string& relative) const { return Attributes(Child(relative)) != INVALID_FILE_ATTRIBUTES; }

    // Makes folders of `part` one inside the other until the path relative to this folder is at
    // least `length` characters long; returns that relative path.
    std::string MakeDeepFolder(const std::string& part, size_t length) const
    {
        std::string relative = part;
        MakeFolder(relative);
        while (relative.size() < length) {
            relative += "\\" + part;
            MakeFolder(relative);
        }
        return relative;
    }

    // The path in the UTF-16 form the wide functions take (\\?\ for a long absolute one).
    static std::wstring Wide(const std::string& path)
    {
        int length = ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
        wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
        if (wide.size() >= MAX_PATH - 20 && wide.size() > 2 && wide[1] == L':')
            wide = L"\\\\?\\" + wide;
        return wide;
    }
    static DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(Wide(path).c_str()); }

    // Removes the folder with everything in it, names outside the code page and long paths too. A
    // linked folder is unlinked, never emptied: what it points at is not the test's.
    static void Remove(const std::string& folder) { RemoveTree(Wide(folder)); }

private:
    static void RemoveTree(const std::wstring& folder)
    {
        WIN32_FIND_DATAW match;
        HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &match);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = match.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                std::wstring child = folder + L"\\" + name;
                if (child.size() >= MAX_PATH - 20 && child.compare(0, 4, L"\\\\?\\") != 0)
                    child = L"\\\\?\\" + child;
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if ((match.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                    (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                    ::RemoveDirectoryW(child.c_str());
                else if (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(child);
                else
                    ::DeleteFileW(child.c_str());
            } while (::FindNextFileW(find, &match));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(folder.c_str());
    }

    std::string path_;
};

}  // namespace testsupport
