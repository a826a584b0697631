#pragma once
#include <windows.h>

#include <string>

namespace updater {

#ifdef _WIN64
constexpr WORD kBuildMachine = IMAGE_FILE_MACHINE_AMD64;
#else
constexpr WORD kBuildMachine = IMAGE_FILE_MACHINE_I386;
#endif

// What the update server published, as downloaded.
struct SignedUpdate {
    std::string program;    // the program file
    std::string signature;  // its signature file; empty when none could be had
    std::string version;    // the version text of the version file, which the signature covers too
};

// Puts a downloaded program in the place of the installed one without ever losing the installed
// program, and only a program that holds up: the download is first copied beside the installed
// program, the copy is checked (a program, signed for its version, not older than the installed
// version) through the one handle that made it and that lets nobody else write, rename or delete
// it, and that handle moves it into place. The old program is moved aside only for the swap and
// moved back when the swap fails.
class ProgramReplacer {
public:
    enum class Result {
        Replaced,           // the target now holds exactly the downloaded bytes
        NoTarget,           // no installed program path is known
        NotSigned,          // the signature does not hold for the version and the program
        NotAProgram,        // the download is not a Windows executable
        OlderVersion,       // signed, but for a version older than the installed one
        FolderNotWritable,  // this process may not create files in the target's folder
        NotReplaced,        // the target could not be replaced (locked, read-only, no such folder, ...)
        RestoreFailed,      // the swap failed and the old program could not be moved back: it is
                            // kept under BackupPath(target)
        // Only when the replacement was handed to an elevated copy of the updater
        // (ElevatedReplacement):
        ElevationDeclined,    // the user did not give administrator rights
        NotWritableElevated,  // not even with administrator rights could the folder be written
        // Last, so the numbers above, which an elevated copy of an older updater returns as its exit
        // code, keep their meaning.
        OtherBuild,  // a program for another processor than the installed one (32-bit against 64-bit)
    };
    // Every result but Replaced and RestoreFailed leaves the installed program as it was and no
    // staging file behind.

    // Replaces `target` by a checked copy of `update.program`; the downloaded files are left alone.
    // `installedVersion` is the version text of the installed program.
    static Result Replace(const SignedUpdate& update, const std::string& installedVersion, const std::string& target);

    // True when the file starts with an MZ header whose new-header offset points at "PE\0\0".
    static bool IsWindowsExecutable(HANDLE file);
    // The machine field of the executable's file header (IMAGE_FILE_MACHINE_...), 0 when unreadable.
    static WORD MachineOf(HANDLE file);
    // The machine this updater and the program it installs are built for.
    static constexpr WORD kOwnMachine = kBuildMachine;

    static std::string StagingPath(const std::string& target) { return target + ".new"; }
    static std::string BackupPath(const std::string& target) { return target + ".old"; }
};

// A copy of a downloaded program in a new file, made, checked and moved through one handle that
// shares only reading: from its creation on no other process can change, rename or delete it, so
// the bytes checked are the bytes that end up in place. Deleted when dropped, unless moved or kept.
class StagedProgram {
public:
    StagedProgram() = default;
    StagedProgram(const StagedProgram&) = delete;
    StagedProgram& operator=(const StagedProgram&) = delete;
    ~StagedProgram();

    // Creates `path` (an earlier file of that name is replaced) and copies `source` into it. False
    // when either fails; Error() then holds the system's error code and nothing is left at `path`.
    bool Create(const std::string& source, const std::string& path);
    DWORD Error() const { return error_; }
    // Checks the copy's bytes against `update`'s signature and version: Replaced when they hold,
    // else NotSigned, NotAProgram, OtherBuild or OlderVersion.
    ProgramReplacer::Result Check(const SignedUpdate& update, const std::string& installedVersion) const;
    // Renames the copy to `path` in the same folder; fails when `path` exists.
    bool MoveTo(const std::string& path);
    // Lets go of the copy and leaves it where it is.
    void Keep();

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
};

}  // namespace updater
