#pragma once
#include "updater/ProgramReplacer.h"

#include <windows.h>

#include <string>

namespace updater {

// The replacement of a program in a folder the user may not write (the installation under Program
// Files): kvupdate runs as the user, so it asks Windows to start a copy of itself with
// administrator rights and an internal argument, and that copy does the replacement alone. The
// elevated copy trusts nothing of the user's: it checks the program, its signature and its version
// again, and it replaces only the program beside itself, never a path from the user's registry.
class ElevatedReplacement {
public:
    // The internal argument; the path of the staged program follows it.
    static constexpr const char* kArgument = "/replace";
    // The file name of the program the installer puts beside kvupdate.
    static constexpr const char* kProgramName = "kestrova.exe";

    // This program's own file.
    static std::string UpdaterPath();
    // The program that an elevated `updater` replaces: kProgramName in the updater's folder.
    static std::string TargetOf(const std::string& updater);
    // True when both name the same file (compared as full paths, case-insensitively).
    static bool SamePath(const std::string& a, const std::string& b);

    // In the user's process, when ProgramReplacer found the target's folder not writable and the
    // target is TargetOf(updater): copies the update into a folder of its own under the user's
    // temporary folder, checks the copy, starts `updater` elevated ("runas") with kArgument and the
    // copy, waits for it (the window `owner` is disabled meanwhile) and removes the copy. The elevated
    // run's result; ElevationDeclined when the user refused, NotWritableElevated when the elevated
    // copy could not write either; failures of the copy or its check as ProgramReplacer gives them.
    static ProgramReplacer::Result Request(
        HWND owner, const std::string& updater, const SignedUpdate& update, const std::string& installedVersion);

    // In the elevated process (kArgument `staged`): replaces TargetOf(UpdaterPath()) by the program
    // `staged`, with the signature and the version file that Request put beside it, checked against
    // the "Version" the main program recorded. Its result, as the process's exit code.
    static int Run(const std::string& staged);
};

}  // namespace updater
