#include "app/CommandLine.h"

#include <windows.h>
#include <shellapi.h>

namespace app {

bool ToAnsi(const std::wstring& wide, std::string& ansi)
{
    ansi.clear();
    if (wide.empty())
        return true;
    // UTF-8 takes no best-fit flag and holds every character; other code pages must not turn a
    // name into a look-alike that names another file.
    const bool utf8 = ::GetACP() == CP_UTF8;
    BOOL lossy = FALSE;
    const int size = static_cast<int>(wide.size());
    int length = ::WideCharToMultiByte(
        CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
    if (length <= 0 || lossy)
        return false;
    ansi.resize(static_cast<size_t>(length));
    ::WideCharToMultiByte(
        CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), size, &ansi[0], length, nullptr, nullptr);
    return true;
}

// Shown in a message as best the code page can; never used as a name.
std::string ShownInAnsi(const std::wstring& wide)
{
    const int size = static_cast<int>(wide.size());
    int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string shown(static_cast<size_t>(length > 0 ? length : 0), '?');
    if (length > 0)
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, &shown[0], length, nullptr, nullptr);
    return shown;
}

CommandLine CommandLine::Parse(const wchar_t* line)
{
    CommandLine parsed;
    int count = 0;
    LPWSTR* arguments = line != nullptr && *line != L'\0' ? ::CommandLineToArgvW(line, &count) : nullptr;
    if (arguments == nullptr)
        return parsed;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"/x" || argument == L"/X" || argument == L"-x" || argument == L"-X") {
            parsed.extractAndClose = true;
            continue;
        }
        if (argument == L"/log" || argument == L"/LOG" || argument == L"-log" || argument == L"-LOG") {
            parsed.logAsked = true;
            if (i + 1 < count)
                parsed.logFile = arguments[++i];
            continue;
        }
        if (argument.empty())
            continue;
        std::string path;
        if (ToAnsi(argument, path)) {
            parsed.paths.push_back(path);
        } else {
            parsed.unusable.push_back(ShownInAnsi(argument));
        }
    }
    ::LocalFree(arguments);
    return parsed;
}

}  // namespace app
