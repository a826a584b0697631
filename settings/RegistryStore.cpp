#include "settings/RegistryStore.h"

#include "framework/Text.h"

#include "settings/RegistryAccess.h"

namespace settings {

namespace {
const char kProgramKey[] = "Software\\Kestrova";
}  // namespace

std::string RegistryStore::KeyPath(const std::string& subKey)
{
    return subKey.empty() ? std::string(kProgramKey) : std::string(kProgramKey) + "\\" + subKey;
}

std::string RegistryStore::Trim(const std::string& text)
{
    return fw::Trimmed(text);
}

std::string RegistryStore::ReadString(const std::string& subKey, const std::string& name) const
{
    RegistryAccess access(root_);
    RegistryValue value;
    access.ReadValue(KeyPath(subKey), name.c_str(), value);
    std::string text;
    value.AsText(text);  // a failed read leaves an empty buffer of type 0: the text stays empty
    return Trim(text);
}

bool RegistryStore::ReadFlag(const std::string& subKey, const std::string& name) const
{
    return Trim(ReadString(subKey, name)) == "1";
}

void RegistryStore::WriteString(const std::string& subKey, const std::string& name, const std::string& text) const
{
    RegistryAccess access(root_);
    RegistryValue value;
    value.SetText(Trim(text).c_str(), false);
    access.WriteValue(KeyPath(subKey), name.c_str(), value);
}

void RegistryStore::WriteNumber(const std::string& subKey, const std::string& name, int number) const
{
    WriteString(subKey, name, std::to_string(number));
}

}  // namespace settings
