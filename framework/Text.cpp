#include "framework/Text.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace fw {

std::wstring Widen(const std::string& text)
{
    int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), length);
    return std::wstring(buffer.data());
}

std::string Narrow(const wchar_t* text)
{
    if (text == nullptr)
        return std::string();
    int length = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(static_cast<size_t>(length));
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), length, nullptr, nullptr);
    return std::string(buffer.data());
}

bool NarrowExact(const std::wstring& text, std::string& ansi)
{
    ansi.clear();
    if (text.empty())
        return true;
    // UTF-8 takes no best-fit flag and holds every character; other code pages report what they lack.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL lossy = FALSE;
    const int size = static_cast<int>(text.size());
    int length = ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
    if (length <= 0 || lossy)
        return false;
    ansi.resize(static_cast<size_t>(length));
    ::WideCharToMultiByte(CP_ACP, flags, text.data(), size, &ansi[0], length, nullptr, nullptr);
    return true;
}

void CopyCut(const std::string& text, char* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return;
    const char* start = text.c_str();
    const char* end = start;
    for (const char* next = start; *end != '\0'; end = next) {
        next = ::CharNextA(end);
        if (next - start > size - 1)
            break;
    }
    const size_t length = static_cast<size_t>(end - start);
    std::memcpy(buffer, start, length);
    buffer[length] = '\0';
}

void CopyCut(const std::string& text, wchar_t* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return;
    const std::wstring wide = Widen(text);
    size_t length = wide.size() < static_cast<size_t>(size - 1) ? wide.size() : static_cast<size_t>(size - 1);
    if (length > 0 && length < wide.size() && wide[length - 1] >= 0xD800 && wide[length - 1] <= 0xDBFF)
        --length;
    std::wmemcpy(buffer, wide.c_str(), length);
    buffer[length] = L'\0';
}

std::string Trimmed(const std::string& text)
{
    const char blanks[] = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace fw
