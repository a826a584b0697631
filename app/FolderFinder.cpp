#include "app/FolderFinder.h"

namespace app {

bool FolderFinder::FindFirst(const std::string& pattern, WIN32_FIND_DATAA& match)
{
    Close();
    find_ = ::FindFirstFileA(pattern.c_str(), &match);
    return find_ != INVALID_HANDLE_VALUE;
}

bool FolderFinder::FindNext(WIN32_FIND_DATAA& match)
{
    return find_ != INVALID_HANDLE_VALUE && ::FindNextFileA(find_, &match) != FALSE;
}

void FolderFinder::Close()
{
    if (find_ != INVALID_HANDLE_VALUE)
        ::FindClose(find_);
    find_ = INVALID_HANDLE_VALUE;
}

}  // namespace app
