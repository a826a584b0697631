#pragma once
#include <windows.h>

#include <string>

namespace app {

// The process-wide file search of the explorer pane: FindFirstFile / FindNextFile / FindClose,
// one search open at a time. Every match is reported, hidden and system ones included.
class FolderFinder {
public:
    FolderFinder() = default;
    FolderFinder(const FolderFinder&) = delete;
    FolderFinder& operator=(const FolderFinder&) = delete;
    ~FolderFinder() { Close(); }

    // Opens a search for `pattern` (closing any open one) and fills in the first match.
    bool FindFirst(const std::string& pattern, WIN32_FIND_DATAA& match);
    bool FindNext(WIN32_FIND_DATAA& match);
    void Close();

private:
    HANDLE find_ = INVALID_HANDLE_VALUE;
};

}  // namespace app
