#include "app/FolderFinder.h"

#include "framework/FileSystem.h"

namespace app {

bool FolderFinder::FindFirst(const std::string& pattern, WIN32_FIND_DATAA& match)
{
    Close();
    find_ = fw::FindFirst(pattern, match);
    return find_ != INVALID_HANDLE_VALUE;
}

bool FolderFinder::FindNext(WIN32_FIND_DATAA& match)
{
    return find_ != INVALID_HANDLE_VALUE && fw::FindNext(find_, match);
}

void FolderFinder::Close()
{
    if (find_ != INVALID_HANDLE_VALUE)
        ::FindClose(find_);
    find_ = INVALID_HANDLE_VALUE;
}

}  // namespace app
