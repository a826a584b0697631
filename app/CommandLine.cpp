#include "app/CommandLine.h"

#include "framework/Text.h"

#include <windows.h>
#include <shellapi.h>

namespace app {

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
        if (fw::NarrowExact(argument, path)) {
            parsed.paths.push_back(path);
        } else {
            parsed.unusable.push_back(fw::Narrow(argument));
        }
    }
    ::LocalFree(arguments);
    return parsed;
}

}  // namespace app
