#pragma once
#include <windows.h>

#include <string>

namespace fw {

// Shows a message box captioned with the application's title. Returns the button pressed
// (IDOK, ...) or 0 when the box could not be shown.
int ShowMessage(HWND owner, const std::string& text, UINT type = MB_OK);

}  // namespace fw
