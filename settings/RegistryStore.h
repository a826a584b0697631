#pragma once
#include <windows.h>

#include <string>

namespace settings {

// The settings facade: text values under HKEY_CURRENT_USER\Software\Kestrova\<sub-key> (an empty
// sub-key names the program key itself), trimmed of white space on the way in and out. Short-lived:
// make one for a group of reads or writes. Every failure is silent; a failed read gives empty text.
class RegistryStore {
public:
    RegistryStore() = default;
    virtual ~RegistryStore() = default;

    std::string ReadString(const std::string& subKey, const std::string& name) const;
    // True exactly when the value reads "1".
    bool ReadFlag(const std::string& subKey, const std::string& name) const;
    void WriteString(const std::string& subKey, const std::string& name, const std::string& text) const;
    // Stores the number as signed decimal text (REG_SZ, never REG_DWORD).
    void WriteNumber(const std::string& subKey, const std::string& name, int number) const;

    // Space, tab, carriage return, line feed, vertical tab and form feed removed at both ends.
    static std::string Trim(const std::string& text);

private:
    static std::string KeyPath(const std::string& subKey);

    HKEY root_ = HKEY_CURRENT_USER;
};

}  // namespace settings
