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

    static void Remove(const std::string& folder)
    {
        WIN32_FIND_DATAA match;
        HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &match);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::string name = match.cFileName;
                if (name == "." || name == "..")
                    continue;
                std::string child = folder + "\\" + name;
                ::SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (match.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(child);
                else
                    ::DeleteFileA(child.c_str());
            } while (::FindNextFileA(find, &match));
            ::FindClose(find);
        }
        ::RemoveDirectoryA(folder.c_str());
    }

private:
    std::string path_;
};

}  // namespace testsupport
