#pragma once
#include <string>
#include <vector>

namespace app {

// What the program was started with: `kestrova.exe [/x] [/log FILE] [paths...]`. Paths are archives
// to queue or folders to search for archives; /x also extracts them at once, unattended, and closes
// the program after; /log names the file the run's summary is written to.
struct CommandLine {
    bool extractAndClose = false;
    bool logAsked = false;              // `/log FILE`: the run's summary is written to FILE
    std::wstring logFile;               // as given (empty when the switch ended the line)
    std::vector<std::string> paths;     // in the code page the program works in, as given
    std::vector<std::string> unusable;  // paths that code page cannot hold (shown as UTF-8 cannot be)

    // Splits a whole command line (the program's name first) as the platform does: blanks
    // separate, double quotes keep blanks. The switches may stand anywhere, in either case, with / or -.
    static CommandLine Parse(const wchar_t* line);
};

}  // namespace app
