#pragma once
#include <string>

namespace updater {

// One text value of HKEY_CURRENT_USER\Software\Kestrova as the main program stored it, untrimmed.
// A missing key or value, or a value of a non-text type, gives empty text.
std::string ReadSetting(const char* name);

}  // namespace updater
