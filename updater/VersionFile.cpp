#include "updater/VersionFile.h"

#include <windows.h>

namespace updater {

std::string VersionFile::ReadVersionText(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    char bytes[kVersionLength] = {};
    DWORD got = 0;
    if (!::ReadFile(file, bytes, sizeof bytes, &got, nullptr))
        got = 0;
    ::CloseHandle(file);
    // Only the bytes the file really has count: a short file must not pick up buffer content.
    std::string text(bytes, got);
    size_t zero = text.find('\0');
    if (zero != std::string::npos)
        text.erase(zero);
    return text;
}

}  // namespace updater
