#pragma once
#include <windows.h>

#include <string>

namespace settings {

// Folder suffixes below %USERPROFILE% of the two shortcuts the program keeps, and their file name.
extern const char kDesktopSuffix[];
extern const char kQuickLaunchSuffix[];
extern const char kShortcutName[];

// Writes .lnk files through the shell-link object. Stateless: made as a local for each use.
class ShellLink {
public:
    ShellLink() = default;
    virtual ~ShellLink() = default;

    // Saves %USERPROFILE% + suffix + name (".lnk" appended when the path holds none in any case)
    // as a shortcut to `target` with no arguments, replacing an existing file. Answers the result
    // of the save or of the step that failed; no folder is created.
    HRESULT CreateShellLink(const std::string& target, const std::string& name, const std::string& suffix) const;

    // %USERPROFILE% (empty when unset) + suffix + "Kestrova.lnk": the file CreateShellLink writes
    // for the program's own shortcuts.
    static std::string ShortcutPath(const std::string& suffix);
};

}  // namespace settings
