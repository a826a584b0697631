#pragma once
#include <string>

namespace updater {

// Puts a downloaded program in the place of the installed one without ever losing the installed
// program: the new file is first copied beside it, and the old one is moved aside only for the
// swap and moved back when the swap fails.
class ProgramReplacer {
public:
    enum class Result {
        Replaced,       // the target now holds exactly the downloaded bytes
        NoTarget,       // no installed program path is known
        NotAProgram,    // the download is not a Windows executable; nothing was touched
        NotReplaced,    // the target could not be replaced (locked, read-only, no such folder, ...);
                        // the installed program is as it was
        RestoreFailed,  // the swap failed and the old program could not be moved back: it is
                        // kept under BackupPath(target)
    };

    // Replaces `target` by a copy of `downloaded`; the downloaded file itself is left alone.
    static Result Replace(const std::string& downloaded, const std::string& target);

    // True when the file starts with an MZ header whose new-header offset points at "PE\0\0".
    static bool IsWindowsExecutable(const std::string& path);

    static std::string StagingPath(const std::string& target) { return target + ".new"; }
    static std::string BackupPath(const std::string& target) { return target + ".old"; }
};

}  // namespace updater
