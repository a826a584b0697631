#pragma once
#include <string>

namespace updater {

// Where the update server keeps "newversion.txt", "update.exe" and its signature "update.sig" (the
// 64-bit build: "update-x64.exe" and "update-x64.sig"). The
// address is the built-in default unless a mirror or a test names another one, first through the
// environment variable, then through a text value of the program's registry key; either way it ends
// in a slash. A mirror cannot change what gets installed: only a program signed by Kestrova is.
class UpdateLocation {
public:
    static constexpr const char* kDefault = "https://www.kestrova.org/update/";
    static constexpr const char* kEnvironmentVariable = "KESTROVA_UPDATE_URL";
    // Value of HKEY_CURRENT_USER\Software\Kestrova.
    static constexpr const char* kRegistryValue = "Update Location";
    // One version file for both builds; each build fetches the program of its own kind, so a 64-bit
    // installation stays 64-bit.
    static constexpr const char* kVersionFileName = "newversion.txt";
#ifdef _WIN64
    static constexpr const char* kProgramFileName = "update-x64.exe";
    static constexpr const char* kSignatureFileName = "update-x64.sig";
#else
    static constexpr const char* kProgramFileName = "update.exe";
    static constexpr const char* kSignatureFileName = "update.sig";
#endif

    // The update location in force: the override in effect, else the default.
    static std::string Base();
    // Scheme letters, "://", a host, and no blanks or control characters anywhere. The platform's
    // own URL check is a stub under Wine that accepts any text, so the form is also checked here.
    static bool IsWellFormedUrl(const std::string& url);
};

}  // namespace updater
