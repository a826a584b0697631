#include "app/ShellFileOperation.h"

#include <cstdlib>
#include <cstring>

namespace app {

ShellFileOperation::ShellFileOperation() = default;

ShellFileOperation::~ShellFileOperation()
{
    std::free(destinationBuffer_);
    std::free(sourceBuffer_);
    std::free(titleBuffer_);
}

bool ShellFileOperation::AddSource(const std::string& path)
{
    const int length = static_cast<int>(path.size());
    const int needed = sourceLength_ + length + 2;
    if (sourceCapacity_ < needed) {
        // The write position is always sourceLength_ bytes into the list.
        const bool first = sourceBuffer_ == nullptr;
        char* grown = static_cast<char*>(std::realloc(sourceBuffer_, static_cast<size_t>(needed)));
        if (grown == nullptr)
            return false;
        if (first)
            grown[0] = '\0';
        sourceWrite_ = grown + sourceLength_;
        sourceBuffer_ = grown;
        sourceCapacity_ = needed;
        request_.pFrom = sourceBuffer_;
    }
    std::memcpy(sourceWrite_, path.c_str(), static_cast<size_t>(length) + 1);
    sourceWrite_ += length + 1;
    sourceLength_ += length + 1;
    *sourceWrite_ = '\0';
    return true;
}

int ShellFileOperation::DeleteFiles()
{
    request_.fAnyOperationsAborted = FALSE;
    request_.wFunc = FO_DELETE;
    return ::SHFileOperationA(&request_);
}

}  // namespace app
