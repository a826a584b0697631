#include "updater/VersionFile.h"

#include <windows.h>

#include <cstring>

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

namespace {

// The leading digits of the part that starts at `at`, without leading zeros; `at` moves past the
// part and its dot.
std::string NextPart(const std::string& text, size_t& at)
{
    size_t end = text.find('.', at);
    if (end == std::string::npos)
        end = text.size();
    size_t digits = at;
    while (digits < end && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    size_t first = at;
    while (first < digits && text[first] == '0')
        ++first;
    at = end < text.size() ? end + 1 : end;
    return text.substr(first, digits - first);
}

}  // namespace

int VersionFile::Compare(const std::string& a, const std::string& b)
{
    size_t atA = 0;
    size_t atB = 0;
    while (atA < a.size() || atB < b.size()) {
        // Numbers of any length: the one with more digits is larger, else the first digit that differs.
        std::string partA = NextPart(a, atA);
        std::string partB = NextPart(b, atB);
        if (partA.size() != partB.size())
            return partA.size() < partB.size() ? -1 : 1;
        int order = std::strcmp(partA.c_str(), partB.c_str());
        if (order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}

}  // namespace updater
