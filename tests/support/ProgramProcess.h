#pragma once
#include "tests/support/ProcessWindows.h"

#include <windows.h>

#include <string>

namespace testsupport {

// kestrova.exe beside the running test program.
inline std::string ProgramPath()
{
    return BinFolder() + "kestrova.exe";
}

// The visible "Kestrova" window of the process, waiting up to `timeoutMs`; null when none came.
inline HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs)
{
    return WaitForProcessWindow(processId, "Kestrova", timeoutMs);
}

}  // namespace testsupport
