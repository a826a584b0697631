#pragma once
#include <windows.h>

#include <shellapi.h>

#include <string>

namespace app {

// One shell file operation (the program only deletes to the Recycle Bin) with its NUL-separated
// source list: each path ends in a NUL and the whole list in one more. Created on the stack.
class ShellFileOperation {
public:
    ShellFileOperation();
    ShellFileOperation(const ShellFileOperation&) = delete;
    ShellFileOperation& operator=(const ShellFileOperation&) = delete;
    virtual ~ShellFileOperation();

    void SetOwner(HWND owner) { request_.hwnd = owner; }
    void SetFlags(FILEOP_FLAGS flags) { request_.fFlags = flags; }
    // Appends one path; the buffer grows to exactly what the list needs. False when memory runs out.
    bool AddSource(const std::string& path);
    // Hands the request to the shell, which confirms, shows progress and reports errors itself.
    // Returns the shell's result.
    int DeleteFiles();
    bool WasAborted() const { return request_.fAnyOperationsAborted != FALSE; }

    int SourceLength() const { return sourceLength_; }
    int SourceCapacity() const { return sourceCapacity_; }
    const char* SourceList() const { return request_.pFrom; }

private:
    int sourceCapacity_ = 0;
    int destinationCapacity_ = 0;
    int sourceLength_ = 0;
    int destinationLength_ = 0;
    SHFILEOPSTRUCTA request_ {};
    char* destinationBuffer_ = nullptr;
    char* sourceBuffer_ = nullptr;
    char* sourceWrite_ = nullptr;
    char* destinationWrite_ = nullptr;
    char* titleBuffer_ = nullptr;
};

}  // namespace app
