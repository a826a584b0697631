#pragma once
#include <windows.h>

#include <string>

namespace testsupport {

// A fresh folder under the temporary folder, removed with everything in it at the end of the test.
class TestFolder {
public:
    TestFolder()
    {
        char temp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, temp);
        static int counter = 0;
        path_ = std::string(temp) + "kvtest" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter);
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    ~TestFolder() { Remove(path_); }

    // The folder, without a trailing backslash.
    const std::string& Path() const { return path_; }
    std::string Child(const std::string& relative) const { return path_ + "\\" + relative; }
    void MakeFolder(const std::string& relative) const { ::CreateDirectoryA(Child(relative).c_str(), nullptr); }
    void WriteFile(const std::string& relative, const std::string& bytes) const
    {
        HANDLE file = ::CreateFileA(Child(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    bool Exists(const std::string& relative) const
    {
        return ::GetFileAttributesA(Child(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    // Removes the folder with everything in it, names outside the code page too. A linked folder
    // is unlinked, never emptied: what it points at is not the test's.
    static void Remove(const std::string& folder)
    {
        const int length = ::MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
        ::MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, &wide[0], length);
        RemoveTree(wide.c_str());
    }

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
                const std::wstring child = folder + L"\\" + name;
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
