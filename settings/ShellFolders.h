#pragma once
#include <windows.h>

#include <string>

namespace settings {

// Full path of the file of the module that owns the window's instance, at most 255 characters.
std::string GetModulePath(HWND window);
// File-system path of the user's desktop folder; empty text when the shell gives none.
std::string GetDesktopFolder();
// The program's version text, "1.8.00".
std::string GetProgramVersion();

}  // namespace settings
